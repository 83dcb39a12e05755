// Message boxes: the recording seam, real boxes from the main thread and from
// workers, shutdown with a worker waiting, and the Chinese button texts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/support/RecordingPresenter.h"
#include "tests/support/OperatorInput.h"
#include "tests/support/UiScript.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtApplication.h"
#include "ui/framework/WindowNotifications.h"

using namespace varnel;
using namespace varnel::test;
using namespace std::chrono_literals;

namespace {

// The toolkit's own modal window on top (a box), if it is a T.
template <typename T>
T* QtModal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

// The test executable's own name, which boxes without a caption carry.
constexpr const char* kExecutableName = "ui_framework_tests";

TEST(RecordingPresenter, RecordsAndAnswersFromEveryThreadWithoutBlocking) {
  RecordingPresenter recorder{DialogBoxHost()};
  recorder.QueueAnswer(MessageAnswer::Yes);

  EXPECT_EQ(recorder.Show("串口打开失败", "", MessageButtons::Ok, MessageOwner::None), MessageAnswer::Ok);
  std::thread::id workerId;
  MessageAnswer first{}, second{};
  std::thread worker([&] {
    workerId = std::this_thread::get_id();
    first = recorder.Show("确定要恢复出厂设置吗？", "警告", MessageButtons::YesNo, MessageOwner::MainWindow);
    second = recorder.Show("再问一次", "警告", MessageButtons::YesNo, MessageOwner::ActiveDialog);
  });
  ASSERT_TRUE(recorder.WaitForCount(3, 5s));
  worker.join();
  EXPECT_EQ(first, MessageAnswer::Yes);  // scripted
  EXPECT_EQ(second, MessageAnswer::No);  // the default once the script is used up

  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "串口打开失败");
  EXPECT_EQ(boxes[0].caption, "");
  EXPECT_EQ(boxes[0].shownCaption, kExecutableName);
  EXPECT_TRUE(boxes[0].onMainThread);
  EXPECT_EQ(boxes[1].caption, "警告");
  EXPECT_EQ(boxes[1].shownCaption, "警告");
  EXPECT_EQ(boxes[1].buttons, MessageButtons::YesNo);
  EXPECT_EQ(boxes[1].owner, MessageOwner::MainWindow);
  EXPECT_EQ(boxes[1].thread, workerId);
  EXPECT_FALSE(boxes[1].onMainThread);
  EXPECT_EQ(boxes[2].owner, MessageOwner::ActiveDialog);

  recorder.SetDefaultYesNoAnswer(MessageAnswer::Yes);
  EXPECT_EQ(recorder.Show("q", "", MessageButtons::YesNo, MessageOwner::None), MessageAnswer::Yes);
  // Waiting for more than will come gives up at the deadline.
  EXPECT_FALSE(recorder.WaitForCount(10, 20ms));
}

TEST(RecordingPresenter, WaitsWhileTimersOnTheMainThreadRun) {
  RecordingPresenter recorder{DialogBoxHost()};
  QTimer::singleShot(1, [&] { recorder.Show("from a timer", "", MessageButtons::Ok, MessageOwner::None); });
  ASSERT_TRUE(recorder.WaitForCount(1, 5s));
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"from a timer"});
}

TEST(ApplicationName, IsTheExecutableWithoutExtension) { EXPECT_EQ(ApplicationName(), kExecutableName); }

TEST(DialogMessagePresenterQt, MainThreadBoxCarriesTextCaptionAndButtons) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  QString title, text;
  int buttonCount = 0;
  UiScript()
      .When("the box", [] { return QtModal<QMessageBox>() != nullptr; },
                            [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                              title = box->windowTitle();
                              text = box->text();
                              buttonCount = static_cast<int>(box->buttons().size());
                              QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
                            })
      .RunDuring([&] {
        EXPECT_EQ(presenter.Show("设置成功", "提示", MessageButtons::Ok, MessageOwner::None), MessageAnswer::Ok);
      });
  EXPECT_EQ(title, QString::fromUtf8("提示"));
  EXPECT_EQ(text, QString::fromUtf8("设置成功"));
  EXPECT_EQ(buttonCount, 1);

  // No caption of its own: the application's name.
  UiScript()
      .When("the box without a caption", [] { return QtModal<QMessageBox>() != nullptr; },
                            [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                              title = box->windowTitle();
                              QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
                            })
      .RunDuring([&] {
        EXPECT_EQ(presenter.Show("继续吗", "", MessageButtons::YesNo, MessageOwner::None), MessageAnswer::No);
      });
  EXPECT_EQ(title, QString(kExecutableName));
}

TEST(DialogMessagePresenterQt, OwnersMapToTheMainWindowAndTheActiveDialog) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  DialogTemplate mainTemplate;
  mainTemplate.caption = "Varnel";
  mainTemplate.width = 100;
  mainTemplate.height = 50;
  Dialog mainDialog(mainTemplate, nullptr, &windows);
  ShowWindow(mainDialog);

  QWidget* parent = nullptr;
  UiScript()
      .When("the main window's box", [] { return QtModal<QMessageBox>() != nullptr; },
                            [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                              parent = box->parentWidget();
                              box->accept();
                            })
      .RunDuring([&] { presenter.Show("owned by the main window", "提示", MessageButtons::Ok, MessageOwner::MainWindow); });
  EXPECT_EQ(parent, Window(mainDialog));
  // The main window is the one this presenter was told of, not any window called "Varnel".
  DialogMessagePresenter otherProgram(windows, "其他");
  parent = Window(mainDialog);
  UiScript()
      .When("the other program's box", [] { return QtModal<QMessageBox>() != nullptr; },
                            [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                              parent = box->parentWidget();
                              box->accept();
                            })
      .RunDuring([&] { otherProgram.Show("no main window of its own", "提示", MessageButtons::Ok, MessageOwner::MainWindow); });
  EXPECT_EQ(parent, nullptr);

  DialogTemplate progressTemplate = mainTemplate;
  progressTemplate.caption = "固件下载进度";
  Dialog progress(progressTemplate, &mainDialog, &windows);
  QWidget* ownerSeen = nullptr;
  QTimer::singleShot(0, [&] {
    UiScript()
        .When("the progress window's box", [] { return QtModal<QMessageBox>() != nullptr; },
                              [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                                ownerSeen = box->parentWidget();
                                box->accept();
                                progress.EndDialog(kIdCancel);
                              })
        .RunDuring([&] {
          presenter.Show("固件下载成功，请重启传感器", "提示", MessageButtons::Ok, MessageOwner::ActiveDialog);
        });
  });
  progress.RunModal();
  EXPECT_EQ(ownerSeen, Window(progress));
}

TEST(DialogMessagePresenterQt, WorkerWaitsForTheBoxShownOnTheMainThread) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  std::atomic<bool> returned{false};
  bool returnedBeforeAnswer = true;
  QString text, title;
  QThread* boxThread = nullptr;
  // The box runs its own modal loop on the main thread; it is answered from there.
  std::promise<MessageAnswer> answer;
  auto future = answer.get_future();
  std::thread worker;
  UiScript()
      .When("the worker's box", [] { return QtModal<QMessageBox>() != nullptr; },
                            [&] {
        QMessageBox* box = QtModal<QMessageBox>();
                              boxThread = box->thread();
                              text = box->text();
                              title = box->windowTitle();
                              returnedBeforeAnswer = returned.load();
                              QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
                            })
      .RunDuring([&] {
        worker = std::thread([&] {
          const MessageAnswer a =
              presenter.Show("确定要重启传感器吗？", "警告", MessageButtons::YesNo, MessageOwner::None);
          returned = true;
          answer.set_value(a);
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return future.wait_for(0s) == std::future_status::ready; }, 5000));
      });
  ASSERT_EQ(future.wait_for(0s), std::future_status::ready);
  EXPECT_EQ(future.get(), MessageAnswer::Yes);
  worker.join();
  EXPECT_EQ(boxThread, QThread::currentThread());  // shown on the main thread
  EXPECT_EQ(text, QString::fromUtf8("确定要重启传感器吗？"));
  EXPECT_EQ(title, QString::fromUtf8("警告"));
  EXPECT_FALSE(returnedBeforeAnswer);  // the worker waited while the box was up
}

TEST(DialogMessagePresenterQt, ShutdownReleasesWaitingThreadsAndAnswersLaterOnes) {
  WindowRegistry windows;
  auto presenter = std::make_unique<DialogMessagePresenter>(windows, "Varnel");
  // A worker whose box never comes up: the main thread does not process
  // events until after Shutdown, as when it is busy stopping the program.
  std::promise<MessageAnswer> queued;
  std::thread first([&] { queued.set_value(presenter->Show("q1", "", MessageButtons::YesNo, MessageOwner::None)); });
  test::WaitUntil([&] { return presenter->PendingCount() != 0; }, 5s, [] { std::this_thread::yield(); });
  ASSERT_EQ(presenter->PendingCount(), 1u);
  auto firstFuture = queued.get_future();
  EXPECT_EQ(firstFuture.wait_for(0s), std::future_status::timeout);  // still waiting
  presenter->Shutdown();
  ASSERT_EQ(firstFuture.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(firstFuture.get(), MessageAnswer::No);  // the harmless choice
  first.join();
  EXPECT_EQ(presenter->PendingCount(), 0u);

  // After Shutdown nothing is shown, from any thread.
  EXPECT_EQ(presenter->Show("later", "", MessageButtons::Ok, MessageOwner::None), MessageAnswer::Ok);
  std::promise<MessageAnswer> later;
  std::thread late([&] { later.set_value(presenter->Show("late", "", MessageButtons::YesNo, MessageOwner::None)); });
  auto lateFuture = later.get_future();
  ASSERT_EQ(lateFuture.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(lateFuture.get(), MessageAnswer::No);
  late.join();
  // The queued call of the first request never ran; it goes with the presenter.
  presenter.reset();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(DialogMessagePresenterQt, ShutdownClosesABoxAWorkerIsWaitingFor) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  std::promise<MessageAnswer> answer;
  // Shutdown comes from inside the box's own modal loop, as an exit would.
  auto future = answer.get_future();
  std::thread worker;
  UiScript()
      .When("the worker's box", [] { return QtModal<QMessageBox>() != nullptr; }, [&] { presenter.Shutdown(); })
      .RunDuring([&] {
        worker = std::thread(
            [&] { answer.set_value(presenter.Show("等待", "", MessageButtons::YesNo, MessageOwner::None)); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return future.wait_for(0s) == std::future_status::ready; }, 5000));
      });
  ASSERT_EQ(future.wait_for(0s), std::future_status::ready);
  EXPECT_EQ(future.get(), MessageAnswer::No);
  EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 5000));
  worker.join();
}

TEST(ChineseTranslations, StandardButtonsReadChinese) {
  ASSERT_TRUE(InstallChineseTranslations(*qApp));
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  auto shown = [&](QMessageBox::StandardButton b) { return box.button(b)->text().remove('&'); };
  EXPECT_EQ(shown(QMessageBox::Ok), QString::fromUtf8("确定"));
  EXPECT_TRUE(shown(QMessageBox::Yes).startsWith(QString::fromUtf8("是"))) << shown(QMessageBox::Yes).toStdString();
  EXPECT_TRUE(shown(QMessageBox::No).startsWith(QString::fromUtf8("否"))) << shown(QMessageBox::No).toStdString();
  EXPECT_EQ(shown(QMessageBox::Cancel), QString::fromUtf8("取消"));
}

}  // namespace
