#include "client-window.h"

#include <QLabel>
#include <QVBoxLayout>

ClientWindow::ClientWindow(const QString& name, const QString& version, QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(name);
    auto* title = new QLabel(QStringLiteral("<b>%1</b>").arg(name.toHtmlEscaped()));
    auto* details = new QLabel(tr("Version %1").arg(version));
    title->setAlignment(Qt::AlignCenter);
    details->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(details);
    resize(320, 120);
}
