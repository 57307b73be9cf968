#pragma once
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "station/Backend.h"
#include "station/CommandTable.h"
#include "target/Profiles.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QtHost;
class TFileDialog;
class TForm2;
class TForm3;

namespace corvane {
class Host;
struct RunRequest;
struct RunResult;
struct Session;
}

// The window's port-access start-up: the backend, or one that refuses every command with
// the reason when no port was had. The port is let go until a command runs.
std::unique_ptr<corvane::Backend> StartWindowBackend(const corvane::TargetOptions& options,
                                                     corvane::Host& host);

// The title the program starts with; the window replaces it with its caption.
inline constexpr const char* kApplicationTitle = "Corvane 1.4";

// A bevel that draws only its top line, sunk into the window.
class TBevel : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The status bar at the bottom edge: three sunken panels of fixed widths.
class TStatusBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 19;
  static constexpr int kPanelWidths[3] = {250, 100, 50};

  explicit TStatusBar(QWidget* parent);
  QLabel* Panel(int index) const { return panels_[index]; }
  int PanelWidth(int index) const { return kPanelWidths[index]; }

 private:
  QLabel* panels_[3];
};

// The main window.
class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr const char* kCaption = "Corvane 1.5C";
  static constexpr int kClientWidth = 405, kClientHeight = 202;

  struct Options {
    // Where commands and the passive poke/peek go; null: nowhere (commands do nothing).
    corvane::Backend* target = nullptr;
    // Runs a menu command instead of the command table's runner (tests).
    std::function<void(corvane::CommandId, corvane::Session&)> commands;
    // The port-access start-up, run by FormCreate once the window can show messages; what
    // it returns becomes the target when none was given.
    std::function<std::unique_ptr<corvane::Backend>(corvane::Host&)> startTarget;
    // The target will be the virtual decoder: the title says so from the start.
    bool simulated = false;
    // The firmware log's folder; empty: beside the executable, else the user's data folder.
    std::string logDir;
  };

  explicit TForm1(Options options, QWidget* parent = nullptr);
  ~TForm1() override;

  // The About and Poke/Peek dialogs, created after this window.
  void SetForms(TForm2* form2, TForm3* form3);

  // The window's own caption, without the virtual decoder's mark.
  static QString Caption() { return QString::fromLatin1(kCaption); }
  QtHost& host() const { return *host_; }
  corvane::Backend* target() const { return target_; }
  bool commandRunning() const { return running_; }
  corvane::Model SelectedModel() const;
  // What a command started now would read of the window.
  corvane::ProfileSnapshot Snapshot() const;

  // Controls, named as in the form.
  TBevel* Bevel1;
  TStatusBar* StatusBar1;
  QGroupBox* GroupBox1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;
  QRadioButton* RadioButton5;
  QRadioButton* RadioButton6;
  QRadioButton* RadioButton7;
  QRadioButton* RadioButton8;
  QGroupBox* GroupBox2;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox2;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QCheckBox* CheckBox3;

  QMenu* Flash1;
  QAction* WriteFirmware1;
  QAction* WriteDataArea1;
  QAction* ReadFirmware1;
  QAction* ReadDataArea1;
  QAction* ReadSignature1;
  QAction* VerifyFirmware1;
  // Checked: Write Firmware and Write Data Area read back what they wrote.
  QAction* VerifyAfterWriting1;
  // Checked: they first save what they will overwrite, beside the firmware log.
  QAction* BackUpBeforeWriting1;
  // Checked: Write Firmware erases and writes every sector, even those that hold the image.
  QAction* FullWrite1;
  QAction* Exit1;
  QMenu* Eeprom1;
  QAction* Read1;
  QAction* Write1;
  QMenu* Debug1;
  QAction* PassivePOKEPEEK1;
  QAction* LinkTest1;
  QMenu* Ram1;
  QAction* Ramdump60711;
  QAction* Ramdump60721;
  QAction* RamdumpBCT131;
  QAction* RamdumpDSI1851;
  QAction* RamdumpTVNbox1;
  QMenu* Help1;
  QAction* About1;

  TFileDialog* OpenDialog1;
  TFileDialog* SaveDialog1;

  // The decoder profile in force.
  int DecoderType = 0;
  int EepromWideAddress = 0;
  uint32_t EepromLastAddress = 0;
  uint32_t PioBase = 0;

  QProgressBar* ProgressBar = nullptr;

 public slots:
  void FormCreate();
  void RadioButton1Click();
  void RadioButton2Click();
  void RadioButton3Click();
  void RadioButton4Click();
  void RadioButton5Click();
  void RadioButton6Click();
  void RadioButton7Click();
  void RadioButton8Click();
  void WriteFirmware1Click();
  void WriteDataArea1Click();
  void ReadFirmware1Click();
  void ReadDataArea1Click();
  void ReadSignature1Click();
  void VerifyFirmware1Click();
  void LinkTest1Click();
  void Exit1Click();
  void Read1Click();
  void Write1Click();
  void SaveDecoder1Click();
  void RestoreDecoder1Click();
  void PassivePOKEPEEK1Click();
  void Ramdump60711Click();
  void Ramdump60721Click();
  void RamdumpBCT131Click();
  void RamdumpDSI1851Click();
  void RamdumpTVNbox1Click();
  void About1Click();
  void Button1Click();
  void Button2Click();
  void Button3Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void ApplyProfile(corvane::Model model);
  void Run(corvane::CommandId command);
  // Runs it with the window's events going and its other commands off. False: the window
  // was asked to close meanwhile, and the caller closes it.
  bool Execute(const corvane::RunRequest& request, corvane::RunResult& result);
  // After a write that failed or was stopped once it had changed the decoder.
  void OfferRestore(corvane::RunRequest request, const std::string& backup);
  void SetCommandsEnabled(bool enabled);
  // The command table's items as the model offers them, none while a command runs.
  void EnableCommandItems();

  Options options_;
  std::unique_ptr<corvane::Backend> ownedTarget_;
  corvane::Backend* target_ = nullptr;
  std::vector<std::pair<corvane::CommandId, QAction*>> commandItems_;
  QtHost* host_ = nullptr;
  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  QRadioButton* radioButtons_[corvane::kModelCount] = {};
  bool running_ = false;
  bool placed_ = false;
};
