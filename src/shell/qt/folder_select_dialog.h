// FolderSelectDialog: the modal "Folder Select" window, as the settings
// panels see it through FolderChooser.
#pragma once

#include "foundation/service_control.h"

class QWidget;

namespace vantrel {

class FolderSelectDialog final : public FolderChooser {
public:
    explicit FolderSelectDialog(QWidget* parent) : parent_(parent) {}
    bool selectFolder(std::string& folder) override;

private:
    QWidget* parent_;
};

} // namespace vantrel
