// QtMessagePrompt: every message box of the program. On a display it is a
// modal QMessageBox; on the offscreen platform (no display) the box is
// written to standard error with its title and answered with its default
// button, OK, or No for a yes/no question, so the program never waits.
#pragma once

#include "foundation/service_control.h"

class QWidget;

namespace vantrel {

// True when the program runs without a display.
bool runsHeadless();

class QtMessagePrompt final : public MessagePrompt {
public:
    explicit QtMessagePrompt(QWidget* parent) : parent_(parent) {}
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons, PromptIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace vantrel
