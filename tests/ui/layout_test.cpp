// The window as it opens: one line per control (class, name, place in window coordinates, text,
// state, font, keyboard order) compared with window-layout.golden, so a moved control, a changed
// caption, flag or Tab position shows as a readable diff. The places come from twips constants
// and are the same on every platform. For a wanted change, run the test once with
// KELVASTON_UPDATE_GOLDEN=1 (it rewrites the file and fails) and review the diff before
// committing it.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "ui/window_picture.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

QString Describe(QWidget* w, POPConfig& window, int tab) {
    const QPoint at = w->mapTo(&window, QPoint(0, 0));
    QString line = QStringLiteral("%1 %2").arg(w->metaObject()->className(), w->objectName());
    // Tab pages and what the status bar holds are placed by the style; the rest by the window.
    if (!qobject_cast<QStackedWidget*>(w->parentWidget()) &&
        !qobject_cast<QStatusBar*>(w->parentWidget())) {
        line += QStringLiteral(" @%1,%2 %3x%4")
                    .arg(at.x())
                    .arg(at.y())
                    .arg(w->width())
                    .arg(w->height());
    }
    if (auto* label = qobject_cast<QLabel*>(w))
        line += " \"" + label->text() + "\" align " + QString::number(label->alignment());
    if (auto* box = qobject_cast<QLineEdit*>(w))
        line += QStringLiteral(" \"%1\" echo %2 align %3")
                    .arg(box->text())
                    .arg(box->echoMode())
                    .arg(box->alignment());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        line += " \"" + button->text() + "\" check " + QString::number(button->isChecked());
        if (button->autoRepeat()) line += " repeats while held";
    }
    if (auto* frame = qobject_cast<QGroupBox*>(w)) line += " \"" + frame->title() + "\"";
    if (auto* tool = qobject_cast<QToolButton*>(w))
        line += QStringLiteral(" arrow %1 icon %2x%3")
                    .arg(tool->arrowType())
                    .arg(tool->iconSize().width())
                    .arg(tool->iconSize().height());
    if (auto* view = qobject_cast<QAbstractItemView*>(w))
        line += QStringLiteral(" icons %1x%2")
                    .arg(view->iconSize().width())
                    .arg(view->iconSize().height());
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
        for (int i = 0; i < tabs->count(); ++i) line += " [" + tabs->tabText(i) + "]";
    }
    if (w->testAttribute(Qt::WA_SetFont))
        line += QStringLiteral(" font %1 %2")
                    .arg(QFontInfo(w->font()).family())
                    .arg(w->font().pointSizeF());
    line += QStringLiteral("%1%2 focus %3")
                .arg(w->isEnabled() ? "" : " disabled", w->isVisibleTo(&window) ? "" : " hidden")
                .arg(w->focusPolicy());
    if (tab >= 0) line += " tab " + QString::number(tab);
    if (!w->toolTip().isEmpty()) line += " tip \"" + w->toolTip() + "\"";
    return line;
}

// Every control of the window, not the parts the tree and the tab control are built of.
TEST(WindowLayout, EveryControlMatchesTheGoldenDescription) {
    POPConfig window;
    window.show();
    EXPECT_EQ(window.Kartei->currentIndex(), 0) << "the window opens on the global page";
    for (int page : {2, 1, 0}) {  // each page laid out as it is shown
        window.Kartei->setCurrentIndex(page);
        QCoreApplication::processEvents();
    }
    const auto inner = [&](QWidget* w) {
        for (QWidget* up = w; up != nullptr && up != &window; up = up->parentWidget()) {
            if (up->objectName().startsWith("qt_") && !qobject_cast<QStackedWidget*>(up))
                return true;
            if (up != w && up == window.GlobalList) return true;
        }
        return false;
    };
    QList<QWidget*> controls{&window};
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!inner(w) && !qobject_cast<QStackedWidget*>(w)) controls.push_back(w);
    }
    QList<QWidget*> tabOrder;  // the order the Tab key takes among the controls described
    for (QWidget* w = window.GlobalList; tabOrder.size() < controls.size();
         w = w->nextInFocusChain()) {
        if (tabOrder.contains(w)) break;
        if (controls.contains(w) && w->focusPolicy() & Qt::TabFocus) tabOrder.push_back(w);
    }
    QString text = QStringLiteral("font %1\n").arg(QFontInfo(window.font()).family());
    // The window's icon: each size it offers, and the size of the picture drawn for it.
    for (const QSize& size : window.windowIcon().availableSizes()) {
        const QSize drawn = window.windowIcon().pixmap(size).size();
        text += QStringLiteral("icon %1x%2 drawn %3x%4\n")
                    .arg(size.width())
                    .arg(size.height())
                    .arg(drawn.width())
                    .arg(drawn.height());
    }
    for (QWidget* w : controls)
        text += Describe(w, window, static_cast<int>(tabOrder.indexOf(w))) + '\n';

    const std::string golden = KELVASTON_UI_TESTS_DIR "/window-layout.golden";
    if (UpdateGolden(golden, text.toStdString())) return;
    EXPECT_EQ(text.toStdString(), kelvaston::test::ReadFile(golden)) << golden;
}

// The window, page by page on the sample configuration, looks exactly as its pictures in docs/
// (those the README shows). For a wanted change, render them anew (tools/screenshot) and look.
TEST(WindowPictures, EveryPageLooksAsItsPicture) {
#ifdef _WIN32
    GTEST_SKIP() << "the pictures are the window on Linux, with Linux's fonts";
#else
    kelvaston::test::TempDir store;
    kelvaston::test::WriteFile(store / "SERVER1.reg",
                               kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg"));
    platform::FileStoreRegistry registry({store.Path(), "SERVER1"});
    const std::tuple<int, QString, QString> pages[] = {{0, "", "window-global.png"},
                                                       {1, "NORAS\\info", "window-accounts.png"},
                                                       {1, "NORAS", "window-connection.png"},
                                                       {2, "NORAS\\info", "window-ticker.png"}};
    for (const auto& [page, node, picture] : pages) {
        POPConfig window;
        ScriptedDialogs dialogs;
        Editor editor(registry, dialogs, window);
        editor.Main();
        const QImage actual =
            WindowPicture(editor, page, node).convertToFormat(QImage::Format_RGB32);
        if (actual !=
            QImage(KELVASTON_DOCS_DIR "/" + picture).convertToFormat(QImage::Format_RGB32)) {
            const QString saved = QDir::temp().filePath("kelvaston-" + picture);
            actual.save(saved);
            ADD_FAILURE() << picture.toStdString()
                          << " differs; the window as it is now: " << saved.toStdString();
        }
    }
#endif
}

// An up-down shows when it has the focus; keys and the mouse step it within its range, from
// the number typed in its box.
TEST(WindowLayout, UpDownShowsItsFocusAndStepsWithinItsRangeFromTheTypedNumber) {
    POPConfig w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // Focused, a frame one pixel wide in the selection colour lies all round it and the buttons
    // share what is inside, one above the other; else the buttons share all of it.
    UpDown* level = w.GlobalDebugLevelUpDown;
    for (const int in : {0, 1}) {
        if (in == 1) level->setFocus(Qt::TabFocusReason);
        const QImage image = level->grab().toImage();
        const QRect up = level->UpButton()->geometry(), down = level->DownButton()->geometry();
        EXPECT_EQ(up | down, level->rect().adjusted(in, in, -in, -in));
        EXPECT_TRUE(up.bottom() + 1 == down.top() && std::abs(up.height() - down.height()) < 2);
        const QRgb frame = level->palette().color(QPalette::Highlight).rgb();
        for (int i = 0; i < image.width() * image.height(); ++i) {
            const int x = i % image.width(), y = i / image.width();
            EXPECT_TRUE(image.rect().adjusted(1, 1, -1, -1).contains(x, y) ||
                        (image.pixel(x, y) == frame) == (in == 1))
                << x << "," << y;
        }
    }
    const std::tuple<UpDown*, QLineEdit*, QString, Qt::Key, QString> steps[] = {
        // before any number: from its first value, the interval's 1 and the level's 0
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "", Qt::Key_Up, "2"},
        {w.GlobalDebugLevelUpDown, w.GlobalDebugLevel, "", Qt::Key_Up, "1"},
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "9999", Qt::Key_Up, "9999"},
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "1", Qt::Key_Down, "1"},
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "33", Qt::Key_Up, "34"},
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "33", Qt::Key_Down, "32"},
        // no number typed: from the number it showed last
        {w.ConnectionTimeOutUpDown, w.ConnectionTimeOut, "zehn", Qt::Key_Up, "33"},
        {w.GlobalDebugLevelUpDown, w.GlobalDebugLevel, "12", Qt::Key_Down, "9"},
        {w.GlobalDebugLevelUpDown, w.GlobalDebugLevel, "0", Qt::Key_Down, "0"},
        {w.GlobalDebugLevelUpDown, w.GlobalDebugLevel, "", Qt::Key_Up, "1"}};
    for (const auto& [upDown, box, typed, key, expected] : steps) {
        box->setText(typed);
        QTest::keyClick(upDown, key);
        EXPECT_EQ(box->text(), expected) << typed.toStdString();
    }
    // Its buttons step as its arrow keys do.
    QTest::mouseClick(w.ConnectionTimeOutUpDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(w.ConnectionTimeOut->text(), "32");
    QTest::mouseClick(w.ConnectionTimeOutUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(w.ConnectionTimeOut->text(), "33");
}

// The real boxes: a question asks Yes or No, in German.
TEST(WindowLayout, QuestionsAskYesOrNoInGerman) {
    QtDialogs dialogs(nullptr);
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        for (QAbstractButton* button : box->buttons()) buttons << button->text().remove('&');
        box->done(QMessageBox::Yes);
    });
    EXPECT_EQ(dialogs.Message("Wirklich?", "Frage", MessageStyle::Question), Answer::Yes);
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"Ja", "Nein"}));
}

}  // namespace
}  // namespace kelvaston::ui::test
