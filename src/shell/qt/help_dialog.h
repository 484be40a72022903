// HelpDialog: the modal "Help" window with the product and maker names, the
// report address, the web page and its "Open Site" button.
#pragma once

#include "shell/help_logic.h"

#include <QDialog>

class QLabel;

namespace vantrel {

class HelpDialog final : public QDialog {
public:
    explicit HelpDialog(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    HelpLogic logic_;
    QLabel* firstLine_;
};

} // namespace vantrel
