#include "ui/framework/QtMessagePresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <future>

#include "ui/framework/WindowNotifications.h"

namespace varnel {
namespace {

bool OnMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// The answer given without asking: nothing is changed by it.
MessageAnswer HarmlessAnswer(MessageButtons buttons) {
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

// Answers the standard buttons' texts when Qt's catalogue does not. Installed
// before the catalogue, so the catalogue is asked first.
class ButtonTextFallback final : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char*, int) const override {
    if (qstrcmp(context, "QPlatformTheme") != 0) return {};
    static const struct {
      const char* source;
      const char* text;
    } kTexts[] = {{"OK", "确定"}, {"&OK", "确定"}, {"&Yes", "是(&Y)"}, {"&No", "否(&N)"},
                  {"Cancel", "取消"}, {"&Cancel", "取消"}, {"Close", "关闭"}, {"Open", "打开"}};
    for (const auto& t : kTexts) {
      if (qstrcmp(sourceText, t.source) == 0) return QString::fromUtf8(t.text);
    }
    return {};
  }
};

}  // namespace

struct QtMessagePresenter::Request {
  std::string text;
  std::string caption;
  MessageButtons buttons;
  MessageOwner owner;
  std::promise<MessageAnswer> answer;
  bool answered = false;  // guarded by the presenter's mutex_
};

std::string ApplicationName() {
  if (!QCoreApplication::instance()) return {};
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

bool InstallChineseTranslations(QApplication& app) {
  app.installTranslator(new ButtonTextFallback(&app));
  auto* catalogue = new QTranslator(&app);
  const bool loaded =
      catalogue->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (loaded) {
    app.installTranslator(catalogue);
  } else {
    delete catalogue;
    std::fprintf(stderr, "Qt's zh_CN translations were not found; install qt6-translations-l10n\n");
  }
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  return loaded;
}

QtMessagePresenter::QtMessagePresenter(WindowRegistry& registry, std::string mainWindowCaption)
    : registry_(registry), mainWindowCaption_(std::move(mainWindowCaption)), context_(new QObject) {}

QtMessagePresenter::~QtMessagePresenter() {
  Shutdown();
  delete context_;  // drops queued calls that never ran; their requests are answered
}

MessageAnswer QtMessagePresenter::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons, MessageOwner owner) {
  if (OnMainThread()) {
    {
      std::lock_guard lock(mutex_);
      if (shutdown_) return HarmlessAnswer(buttons);
    }
    return ShowNow(text, caption, buttons, owner);
  }
  if (!QCoreApplication::instance()) {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return HarmlessAnswer(buttons);
  }
  auto request = std::make_shared<Request>();
  request->text = text;
  request->caption = caption;
  request->buttons = buttons;
  request->owner = owner;
  std::future<MessageAnswer> answer = request->answer.get_future();
  {
    // Posting under the lock keeps Shutdown from slipping in between the
    // check and the post; posting never waits.
    std::lock_guard lock(mutex_);
    if (shutdown_) return HarmlessAnswer(buttons);
    pending_.push_back(request);
    QMetaObject::invokeMethod(context_, [this, request] { Run(request); }, Qt::QueuedConnection);
  }
  return answer.get();  // no lock held while waiting
}

void QtMessagePresenter::Run(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard lock(mutex_);
    if (request->answered) return;  // answered by Shutdown before it came up
  }
  const MessageAnswer answer = ShowNow(request->text, request->caption, request->buttons, request->owner);
  std::lock_guard lock(mutex_);
  if (!request->answered) {
    request->answered = true;
    request->answer.set_value(answer);
  }
  std::erase(pending_, request);
}

void QtMessagePresenter::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    for (const auto& request : pending_) {
      if (!request->answered) {
        request->answered = true;
        request->answer.set_value(HarmlessAnswer(request->buttons));
      }
    }
    pending_.clear();
  }
  if (OnMainThread()) {
    // Closing the open boxes lets their modal loops unwind.
    const std::vector<QObject*> open = openBoxes_;
    for (QObject* box : open) {
      if (auto* dialog = qobject_cast<QDialog*>(box)) dialog->reject();
    }
  }
}

std::size_t QtMessagePresenter::PendingCount() {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

MessageAnswer QtMessagePresenter::ShowNow(const std::string& text, const std::string& caption,
                                          MessageButtons buttons, MessageOwner owner) {
  QWidget* parent = nullptr;
  if (owner == MessageOwner::MainWindow) {
    parent = qobject_cast<QWidget*>(registry_.Find(mainWindowCaption_));
  } else if (owner == MessageOwner::ActiveDialog) {
    parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
  }
  QMessageBox box(parent);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(QString::fromStdString(caption.empty() ? ApplicationName() : caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  if (buttons == MessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  openBoxes_.push_back(&box);
  const int result = box.exec();
  std::erase(openBoxes_, &box);
  if (buttons == MessageButtons::YesNo) {
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  return MessageAnswer::Ok;
}

}  // namespace varnel
