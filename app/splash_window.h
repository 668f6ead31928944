#pragma once
// TfrmSplash: the picture that fades in while the program starts, on top of
// everything, and closes itself about four seconds later. Its texts are laid
// out in their fonts, so the picture grows with them rather than cutting them.

#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace fornax::app {

class TfrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmSplash(QWidget* parent = nullptr);

  // One step of the fade: 2 more (up to 255) every 10 ms; the splash closes
  // when the count reaches 800.
  void tmrSplashTimer();
  int Opacity() const { return FOpacity; }  // 0 to 255, as last set
  int Counter() const { return FCounter; }

  QLabel* Image1;  // the backdrop, as large as the splash
  QLabel *Label1, *Label2, *Label3;  // the name, what it does, the version
  QTimer* tmrSplash;

 private:
  int FCounter = 10;
  int FOpacity = 0;
};

}  // namespace fornax::app
