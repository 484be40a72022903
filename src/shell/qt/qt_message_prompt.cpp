// Message boxes through Qt, or through standard error without a display.
#include "shell/qt/qt_message_prompt.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>

namespace vantrel {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon boxIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information:
        return QMessageBox::Information;
    case PromptIcon::Warning:
        return QMessageBox::Warning;
    case PromptIcon::Error:
        return QMessageBox::Critical;
    case PromptIcon::Question:
        return QMessageBox::Question;
    case PromptIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

bool runsHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

PromptAnswer QtMessagePrompt::show(std::string_view text, std::string_view title, PromptButtons buttons,
                                   PromptIcon icon)
{
    if (runsHeadless()) {
        const bool question = buttons == PromptButtons::YesNo;
        std::fprintf(stderr, "%.*s: %.*s%s\n", static_cast<int>(title.size()), title.data(),
                     static_cast<int>(text.size()), text.data(), question ? " [No]" : "");
        std::fflush(stderr);
        return question ? PromptAnswer::No : PromptAnswer::Ok;
    }
    QMessageBox box(boxIcon(icon), toQString(title), toQString(text), QMessageBox::NoButton, parent_);
    if (buttons == PromptButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? PromptAnswer::Yes : PromptAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return PromptAnswer::Ok;
}

} // namespace vantrel
