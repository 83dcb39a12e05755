// Message boxes on Qt and the Chinese texts of Qt's own buttons and dialogs.
#include "ui/framework/MessageBoxes.h"

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
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtApplication.h"

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

struct DialogMessagePresenter::State {
  struct Request {
    std::string text;
    std::string caption;
    MessageButtons buttons;
    MessageOwner owner;
    std::promise<MessageAnswer> answer;
    bool answered = false;  // guarded by mutex
  };

  State(WindowRegistry& r, std::string caption) : registry(r), mainWindowCaption(std::move(caption)) {}
  void Run(const std::shared_ptr<Request>& request);
  MessageAnswer ShowNow(const std::string& text, const std::string& caption, MessageButtons buttons,
                        MessageOwner owner);

  WindowRegistry& registry;  // outlives the presenter
  const std::string mainWindowCaption;
  QObject context;  // main thread; the queued calls run on it
  std::mutex mutex;  // guards shutdown, pending and every Request::answered
  bool shutdown = false;
  std::vector<std::shared_ptr<Request>> pending;  // requests from other threads not yet answered
  std::vector<QDialog*> openBoxes;                // main thread only
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

DialogMessagePresenter::DialogMessagePresenter(WindowRegistry& registry, std::string mainWindowCaption)
    : state_(std::make_unique<State>(registry, std::move(mainWindowCaption))) {}

DialogMessagePresenter::~DialogMessagePresenter() {
  Shutdown();
  // The context goes with the state: queued calls that never ran are dropped;
  // their requests are answered.
}

MessageAnswer DialogMessagePresenter::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons, MessageOwner owner) {
  if (OnMainThread()) {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->shutdown) return HarmlessAnswer(buttons);
    }
    return state_->ShowNow(text, caption, buttons, owner);
  }
  if (!QCoreApplication::instance()) {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return HarmlessAnswer(buttons);
  }
  auto request = std::make_shared<State::Request>();
  request->text = text;
  request->caption = caption;
  request->buttons = buttons;
  request->owner = owner;
  std::future<MessageAnswer> answer = request->answer.get_future();
  {
    // Posting under the lock keeps Shutdown from slipping in between the
    // check and the post; posting never waits.
    std::lock_guard lock(state_->mutex);
    if (state_->shutdown) return HarmlessAnswer(buttons);
    state_->pending.push_back(request);
    State* state = state_.get();
    QMetaObject::invokeMethod(&state_->context, [state, request] { state->Run(request); }, Qt::QueuedConnection);
  }
  return answer.get();  // no lock held while waiting
}

void DialogMessagePresenter::State::Run(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard lock(mutex);
    if (request->answered) return;  // answered by Shutdown before it came up
  }
  const MessageAnswer answer = ShowNow(request->text, request->caption, request->buttons, request->owner);
  std::lock_guard lock(mutex);
  if (!request->answered) {
    request->answered = true;
    request->answer.set_value(answer);
  }
  std::erase(pending, request);
}

void DialogMessagePresenter::Shutdown() {
  {
    std::lock_guard lock(state_->mutex);
    state_->shutdown = true;
    for (const auto& request : state_->pending) {
      if (!request->answered) {
        request->answered = true;
        request->answer.set_value(HarmlessAnswer(request->buttons));
      }
    }
    state_->pending.clear();
  }
  if (OnMainThread()) {
    // Closing the open boxes lets their modal loops unwind.
    const std::vector<QDialog*> open = state_->openBoxes;
    for (QDialog* box : open) box->reject();
  }
}

std::size_t DialogMessagePresenter::PendingCount() {
  std::lock_guard lock(state_->mutex);
  return state_->pending.size();
}

MessageAnswer DialogMessagePresenter::State::ShowNow(const std::string& text, const std::string& caption,
                                          MessageButtons buttons, MessageOwner owner) {
  QWidget* parent = nullptr;
  if (owner == MessageOwner::MainWindow) {
    if (Dialog* main = registry.Find(mainWindowCaption)) parent = Window(*main);
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
  openBoxes.push_back(&box);
  const int result = box.exec();
  std::erase(openBoxes, &box);
  if (buttons == MessageButtons::YesNo) {
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  return MessageAnswer::Ok;
}

}  // namespace varnel
