#include <QApplication>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "app/QtHost.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/WindowArgs.h"

int main(int argc, char** argv) {
  // Checked before the toolkit starts, so --help and mistakes need no display.
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = ParseWindowArgs(WithoutToolkitOptions(args));
  if (const auto* usage = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "corvane: %s\n", usage->c_str());
    return 2;
  }
  const WindowArgs& options = std::get<WindowArgs>(parsed);
  if (options.help) {
    std::fputs(WindowUsage().c_str(), stdout);
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
  TForm1::Options formOptions;
  formOptions.simulated = options.target.simulated();
  formOptions.startTarget = [target = options.target](corvane::Host& host) {
    return StartWindowBackend(target, host);
  };
  TForm1 form1(formOptions);
  TForm2 form2(&form1);
  TForm3 form3(form1.host(), form1.target(), [&form1] { return form1.SelectedModel(); }, &form1);
  form1.SetForms(&form2, &form3);
  form1.show();
  return app.exec();
}
