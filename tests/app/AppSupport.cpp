#include "AppSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>


namespace apptest {

ModalScript::Step Press(const QString& button, Shown* shown) {
  return [button, shown](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << "expected a message box, got " << modal->metaObject()->className();
    if (shown) {
      shown->title = box->windowTitle();
      shown->text = box->text().remove(QChar(0x200B));  // as read, without the wrap points
      shown->icon = box->icon();
      shown->buttons.clear();
      for (QAbstractButton* b : box->buttons()) shown->buttons.push_back(b->text().remove('&'));
      if (box->defaultButton()) shown->defaultButton = box->defaultButton()->text().remove('&');
      shown->width = box->width();
    }
    for (QAbstractButton* b : box->buttons()) {
      if (b->text().remove('&') == button) {
        b->click();
        return;
      }
    }
    ADD_FAILURE() << "no button " << button.toStdString();
    box->reject();
  };
}

std::unique_ptr<TForm1> WindowOnVirtualDecoders(const QString& dir, const QString& logDir) {
  TForm1::Options options;
  options.simulated = true;
  options.logDir = logDir.toStdString();
  corvane::TargetOptions target;
  target.simulateDir = dir.toStdString();
  options.startTarget = [target](corvane::Host& host) { return StartWindowBackend(target, host); };
  return std::make_unique<TForm1>(std::move(options));
}

bool PaintCounter::eventFilter(QObject*, QEvent* e) {
  if (e->type() == QEvent::Paint) ++paints;
  return false;
}

namespace {

// One QApplication for the whole program, offscreen unless told otherwise.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
}  // namespace apptest
