#pragma once
// TfrmAcercaDe: "Acerca de", the program's name, version, rights and a link
// to its web site.

#include <QDialog>

#include "app/prompter.h"

class QLabel;
class QPushButton;

namespace fornax::app {

class TLinkLabel;

class TfrmAcercaDe : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAcercaDe(TPrompter& prompter, QWidget* parent = nullptr);

  QLabel *Image1, *Label1, *Label2, *Label3, *Label4, *Label6, *Label7;
  TLinkLabel* Label8;
  QPushButton* btnAceptar;

 private:
  TPrompter& FPrompter;
};

}  // namespace fornax::app
