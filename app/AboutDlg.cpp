#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogLayout.h"
#include "corvane/Version.h"

using namespace app;

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setFont(DialogFont());
  setWindowTitle(QStringLiteral("Corvane 정보"));
  const DialogUnits units = CurrentDialogUnits();
  setFixedSize(units.X(235), units.Y(55));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  const QRect iconRect = units.Rect(11, 17, 20, 20);
  const int side = std::min(iconRect.width(), iconRect.height());
  icon->setPixmap(CorvaneIcon().pixmap(side, side));
  icon->setGeometry(iconRect.x(), iconRect.y(), side, side);
  icon->setAccessibleName(QStringLiteral("Corvane"));

  auto* version = new QLabel(QStringLiteral("Corvane 버전 " CORVANE_VERSION), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(units.Rect(42, 14, 114, 8).adjusted(0, 0, 0, units.Y(4)));

  auto* ok = new QPushButton(QStringLiteral("확인"), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setGeometry(units.Rect(178, 7, 50, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
