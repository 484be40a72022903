// Widget factories, the shared rows and the panel binding of the settings
// windows.
#include "shell/qt/dialog_layout.h"

#include "foundation/product.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace vantrel {

namespace {

QLabel* makeLabel(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

QString fromText(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string toText(const QString& text)
{
    return text.toStdString();
}

QPushButton* makeButton(const char* text, const char* objectName, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    return button;
}

QLineEdit* makeEdit(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

QCheckBox* makeCheckBox(const char* text, const char* objectName, QWidget* parent)
{
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    return box;
}

QGroupBox* makeGroup(const char* title, const char* objectName, QWidget* parent)
{
    auto* group = new QGroupBox(QString::fromLatin1(title), parent);
    group->setObjectName(QString::fromLatin1(objectName));
    return group;
}

void addLabelledRow(QGridLayout* grid, int row, const char* label, QWidget* field, int span)
{
    grid->addWidget(makeLabel(label, field, field->parentWidget()), row, 0);
    grid->addWidget(field, row, 1, 1, span);
}

RecordButtons makeRecordButtons(QWidget* parent)
{
    RecordButtons buttons;
    buttons.row = new QHBoxLayout;
    buttons.addUpdate = makeButton("&Add/Update", "addUpdateButton", parent);
    buttons.remove = makeButton("&Delete", "deleteButton", parent);
    buttons.previous = makeButton("<-", "previousButton", parent);
    buttons.next = makeButton("->", "nextButton", parent);
    buttons.row->addWidget(buttons.addUpdate);
    buttons.row->addWidget(buttons.remove);
    buttons.row->addStretch();
    buttons.row->addWidget(buttons.previous);
    buttons.row->addWidget(new QLabel(QStringLiteral("Search"), parent));
    buttons.row->addWidget(buttons.next);
    return buttons;
}

void addSetupInfo(QVBoxLayout* layout, const char* text, QWidget* parent)
{
    const QString page = QString::fromLatin1(MakerWebPage);
    auto* info = new QLabel(parent);
    info->setObjectName(QStringLiteral("setupInfoLabel"));
    info->setText(
        QStringLiteral("%1<a href=\"%2\">%2</a>").arg(QString::fromLatin1(text).toHtmlEscaped(), page.toHtmlEscaped()));
    info->setOpenExternalLinks(true);
    layout->addWidget(info);
}

PanelDialog::PanelDialog(const char* objectName, const char* title, QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setWindowTitle(QString::fromLatin1(title));
    setModal(true);
}

void PanelDialog::bindAction(QPushButton* button, std::function<void()> action)
{
    connect(button, &QPushButton::clicked, this, [this, action = std::move(action)] { run(action); });
}

void PanelDialog::bindApply(QPushButton* button, std::function<bool()> apply)
{
    connect(button, &QPushButton::clicked, this, [this, apply = std::move(apply)] {
        bool close = false;
        run([&] { close = apply(); });
        if (close)
            accept();
    });
}

void PanelDialog::run(const std::function<void()>& action)
{
    readFields();
    action();
    writeFields();
}

} // namespace vantrel
