// The "Folder Select" window driven with the mouse on the offscreen
// platform: a single click names a subfolder, a double click on ".." climbs,
// OK hands the path line back and Cancel leaves the caller's text alone.
#include "shell/qt/folder_select_dialog.h"

#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

QDialog* openDialog() {
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

QListWidgetItem* item(QListWidget* list, const char* name) {
    const auto found = list->findItems(QString::fromLatin1(name), Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.front();
}

void clickItem(QListWidget* list, const char* name, bool twice) {
    QListWidgetItem* entry = item(list, name);
    ASSERT_NE(entry, nullptr) << name;
    const QPoint at = list->visualItemRect(entry).center();
    // A double click is a click followed by the double-click event.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice) QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Runs `steps` once the modal window is up and filled; a window that the
// steps leave open is cancelled, so a failed step cannot hang the test.
void whenShown(const std::function<void(QDialog&, QListWidget&, QLabel&)>& steps) {
    QTimer::singleShot(0, [steps] {
        QDialog* dialog = nullptr;
        if (!QTest::qWaitFor([&] { return (dialog = openDialog()) != nullptr; })) {
            ADD_FAILURE() << "no folder window";
            return;
        }
        auto* list = dialog->findChild<QListWidget*>(QStringLiteral("folderList"));
        auto* path = dialog->findChild<QLabel*>(QStringLiteral("folderPathLine"));
        if (list && path && QTest::qWaitFor([&] { return list->count() > 0; }))
            steps(*dialog, *list, *path);
        else
            ADD_FAILURE() << "folder window without its list";
        if (dialog->isVisible()) dialog->reject();
    });
}

QPushButton* button(QDialog& dialog, QDialogButtonBox::StandardButton which) {
    return dialog.findChild<QDialogButtonBox*>(QStringLiteral("folderButtons"))->button(which);
}

TEST(FolderSelectDialog, ClickNamesClimbAndCancelKeepsTheText) {
    test::TempFolder tree;
    fs::create_directories(fs::path(tree.path()) / "a/b/c");
    const std::string a = fs::canonical(tree / "a").string();

    QWidget parent;
    FolderSelectDialog chooser(&parent);

    std::string folder = a + "/b/c";
    whenShown([&](QDialog& dialog, QListWidget& list, QLabel& path) {
        EXPECT_EQ(path.text().toStdString(), a + "/b/c");
        clickItem(&list, "..", true);
        EXPECT_TRUE(QTest::qWaitFor([&] { return item(&list, "c") != nullptr; }));
        EXPECT_EQ(path.text().toStdString(), a + "/b");
        clickItem(&list, "..", true);
        EXPECT_TRUE(QTest::qWaitFor([&] { return item(&list, "b") != nullptr; }));
        clickItem(&list, "b", false);
        EXPECT_EQ(path.text().toStdString(), a + "/b");
        button(dialog, QDialogButtonBox::Ok)->click();
    });
    EXPECT_TRUE(chooser.selectFolder(folder));
    EXPECT_EQ(folder, a + "/b");

    whenShown([&](QDialog& dialog, QListWidget& list, QLabel&) {
        clickItem(&list, "c", false);
        button(dialog, QDialogButtonBox::Cancel)->click();
    });
    EXPECT_FALSE(chooser.selectFolder(folder));
    EXPECT_EQ(folder, a + "/b");
}

} // namespace
} // namespace vantrel
