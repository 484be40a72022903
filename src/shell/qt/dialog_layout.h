// Building blocks of the settings windows: widgets created with their object
// names (the GUI tests find them by name), the record browsing row, the
// link line at the bottom, and PanelDialog, the binding every settings
// window shares: a button runs one panel action between copying the widgets
// into the panel's fields and copying the fields back.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace vantrel {

QString fromText(const std::string& text);
std::string toText(const QString& text);

// A push button that Enter does not press: the windows have no default.
QPushButton* makeButton(const char* text, const char* objectName, QWidget* parent);
QLineEdit* makeEdit(const char* objectName, QWidget* parent);
QCheckBox* makeCheckBox(const char* text, const char* objectName, QWidget* parent);
QGroupBox* makeGroup(const char* title, const char* objectName, QWidget* parent);

// A grid row: the label in column 0, `field` from column 1 over `span`
// columns. The label shares the field's parent and names it as its buddy.
void addLabelledRow(QGridLayout* grid, int row, const char* label, QWidget* field, int span = 1);

// The row under the fields of one record: "&Add/Update" and "&Delete" on
// the left, the "<-" Search "->" arrows on the right.
struct RecordButtons {
    QHBoxLayout* row = nullptr;
    QPushButton* addUpdate = nullptr;
    QPushButton* remove = nullptr;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;
};
RecordButtons makeRecordButtons(QWidget* parent);

// The last line of a settings window: `text` followed by the maker's web
// page as a link.
void addSetupInfo(QVBoxLayout* layout, const char* text, QWidget* parent);

class PanelDialog : public QDialog {
protected:
    PanelDialog(const char* objectName, const char* title, QWidget* parent);

    // Copy the widgets into the panel's fields, and the fields back.
    virtual void readFields() = 0;
    virtual void writeFields() = 0;

    // A click on `button` runs `action` between readFields and writeFields.
    void bindAction(QPushButton* button, std::function<void()> action);
    // The same for the apply button; the window closes when `apply` says so.
    void bindApply(QPushButton* button, std::function<bool()> apply);

private:
    void run(const std::function<void()>& action);
};

} // namespace vantrel
