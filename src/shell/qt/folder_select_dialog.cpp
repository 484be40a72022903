// The folder picker's widgets bound to FolderSelectLogic: a path line, a
// list of subfolders (click names one, double click enters it), OK, Cancel.
#include "shell/qt/folder_select_dialog.h"

#include "shell/folder_select_logic.h"
#include "shell/qt/qt_message_prompt.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QString local(const std::string& text)
{
    return QString::fromLocal8Bit(text.c_str());
}
std::string fromItem(const QListWidgetItem* item)
{
    return item->text().toLocal8Bit().toStdString();
}

class FolderSelectWindow final : public QDialog {
public:
    FolderSelectWindow(QWidget* parent, const std::string& start) : QDialog(parent), prompt_(this), logic_(prompt_)
    {
        setObjectName(QStringLiteral("folderSelectDialog"));
        setWindowTitle(QStringLiteral("Folder Select"));
        logic_.setStartFolder(start);

        pathLine_ = new QLabel(this);
        pathLine_->setObjectName(QStringLiteral("folderPathLine"));
        list_ = new QListWidget(this);
        list_->setObjectName(QStringLiteral("folderList"));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->setObjectName(QStringLiteral("folderButtons"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(pathLine_);
        layout->addWidget(list_, 1);
        layout->addWidget(buttons);
        resize(360, 320);

        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
            logic_.selectEntry(fromItem(item));
            pathLine_->setText(local(logic_.pathLine()));
        });
        // Entering refills the list, which deletes the item: leave the
        // signal first.
        connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
            const std::string name = fromItem(item);
            QTimer::singleShot(0, this, [this, name] {
                logic_.enterEntry(name);
                showContents();
            });
        });
        // Filled once the window is up, so a message box has its parent.
        QTimer::singleShot(0, this, [this] {
            logic_.fillList();
            showContents();
        });
    }

    std::string chosen() const { return logic_.chosenFolder(); }

private:
    void showContents()
    {
        pathLine_->setText(local(logic_.pathLine()));
        list_->clear();
        for (const std::string& name : logic_.entries())
            list_->addItem(local(name));
    }

    QtMessagePrompt prompt_;
    FolderSelectLogic logic_;
    QLabel* pathLine_;
    QListWidget* list_;
};

} // namespace

bool FolderSelectDialog::selectFolder(std::string& folder)
{
    FolderSelectWindow window(parent_, folder);
    if (window.exec() != QDialog::Accepted)
        return false;
    folder = window.chosen();
    return true;
}

} // namespace vantrel
