// The help window's widgets, bound to HelpLogic. The page opens through the
// desktop's URL handler.
#include "shell/qt/help_dialog.h"

#include "shell/qt/artwork.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QString latin1(const std::string& text)
{
    return QString::fromLatin1(text.c_str());
}

void openPage(std::string_view address)
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size()))));
}

} // namespace

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent), logic_(openPage), firstLine_(new QLabel(this))
{
    setObjectName(QStringLiteral("helpDialog"));
    setWindowTitle(QStringLiteral("Help"));
    setWindowIcon(mainIcon());

    firstLine_->setObjectName(QStringLiteral("helpFirstLine"));
    QFont bold = firstLine_->font();
    bold.setBold(true);
    firstLine_->setFont(bold);

    auto* report = new QLabel(latin1(HelpLogic::reportLine()), this);
    report->setObjectName(QStringLiteral("helpReportLine"));
    report->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* page = new QLabel(latin1(HelpLogic::webPage()), this);
    page->setObjectName(QStringLiteral("helpWebPage"));
    page->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* openSite = new QPushButton(QStringLiteral("Open Site"), this);
    openSite->setObjectName(QStringLiteral("helpOpenSite"));
    connect(openSite, &QPushButton::clicked, this, [this] { (void)logic_.openSiteShortcut(); });

    auto* pageRow = new QHBoxLayout;
    pageRow->addWidget(page, 1);
    pageRow->addWidget(openSite);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("helpButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(firstLine_);
    layout->addWidget(report);
    layout->addLayout(pageRow);
    layout->addWidget(buttons);
}

void HelpDialog::showEvent(QShowEvent* event)
{
    firstLine_->setText(latin1(HelpLogic::firstLine()));
    QDialog::showEvent(event);
}

} // namespace vantrel
