#include "app/about_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/app_icon.h"
#include "app/main_window.h"
#include "app/widgets.h"

namespace fornax::app {

TfrmAcercaDe::TfrmAcercaDe(TPrompter& prompter, QWidget* parent) : QDialog(parent), FPrompter(prompter) {
  setObjectName("frmAcercaDe");
  setWindowTitle(tr("Acerca de"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  auto* column = new QVBoxLayout(this);
  auto* top = new QHBoxLayout();
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setPixmap(FornaxIconPixmap(32));
  Image1->setFixedSize(32, 32);
  top->addWidget(Image1, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout();
  const auto text = [&](const char* name, const QString& caption) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    texts->addWidget(label);
    return label;
  };
  Label1 = text("Label1", "Fornax");
  QFont big = Label1->font();
  big.setPointSize(big.pointSize() + 6);
  big.setBold(true);
  Label1->setFont(big);
  Label3 = text("Label3", tr("Version 1.4.2 Build 215"));
  Label4 = text("Label4", tr("Copyright © 2026 el equipo de Fornax. Software libre."));
  Label6 = text("Label6", tr("El equipo de Fornax"));
  Label7 = text("Label7", tr("Hecho para escritorios Linux"));
  Label8 = new TLinkLabel(kMakerSite, this);
  Label8->setObjectName("Label8");
  texts->addWidget(Label8);
  top->addLayout(texts, 1);
  column->addLayout(top);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  column->addWidget(bevel);
  Label2 = new QLabel(
      tr("Este programa se entrega tal cual, sin garantia de ningun tipo. Antes de grabar, compruebe que "
         "tiene derecho a copiar lo que graba, y conserve copias de sus datos: un disco puede danarse o "
         "perderse."),
      this);
  Label2->setObjectName("Label2");
  Label2->setWordWrap(true);
  column->addWidget(Label2);
  btnAceptar = new QPushButton(tr("&Aceptar"), this);
  btnAceptar->setObjectName("btnAceptar");
  btnAceptar->setDefault(true);
  column->addWidget(btnAceptar, 0, Qt::AlignRight);
  // As wide as the name, version and rights need in their fonts (and a
  // readable measure for the notice), as high as the notice wrapped to it.
  const QMargins margins = column->contentsMargins();
  const int width = std::max(top->sizeHint().width(), CharactersWide(*Label2, 52)) + margins.left() + margins.right();
  setFixedSize(width, heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height());
  connect(btnAceptar, &QPushButton::clicked, this, &QDialog::accept);
  connect(Label8, &TLinkLabel::Clicked, this, [this] { FPrompter.OpenUrl(kMakerSite); });
}

}  // namespace fornax::app
