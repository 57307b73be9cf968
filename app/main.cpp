#include <QApplication>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/QtHost.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
  TForm1 form1(TForm1::Options{});
  TForm2 form2(&form1);
  TForm3 form3(form1.host(), form1.target(), [&form1] { return form1.SelectedModel(); }, &form1);
  form1.SetForms(&form2, &form3);
  form1.show();
  return app.exec();
}
