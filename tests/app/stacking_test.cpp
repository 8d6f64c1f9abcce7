// Windows opened from other windows, under a real X server and window manager (the CTest entry
// runs this through tests/support/under_window_manager.py): the window just opened must be mapped
// on top of everything, above the window it was opened from, and hold the focus. Each row below
// is one such pair, reached the way the owner reaches it, through the program's own Qt seam.
#include "catalog/artedit.h"
#include "catalog/artikel.h"
#include "catalog/kataloge.h"
#include "catalog/katneu.h"
#include "ftpbrowser/ftpedit.h"
#include "platform/settings_store.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/info.h"
#include "shell/main.h"
#include "shell/overz.h"
#include "shell/shop.h"
#include "sync/connect.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace velmo;
using namespace velmo::test;

namespace {

// Generous: the machines that run the suite are busy. Only a failing check waits this long.
constexpr int kWaitMs = 10000;

// The program's windows, created and parented as main() does it, over a scratch data directory
// with one catalog.
struct Program {
    TempDir dir;
    std::unique_ptr<DialogSeam> seam = makeQtDialogs();
    Shop shop{*seam};
    TForm9 currency{*seam};
    TForm1 main{shop, currency};
    TForm3* form3 = new TForm3(*seam, &main);
    TForm2* form2 = new TForm2(shop, *form3, &main);
    TForm5* form5 = new TForm5(shop, &main);
    TForm4* form4 = new TForm4(shop, *form5, &main);
    TAboutBox* about = new TAboutBox(*seam, &main);
    TForm10* form10 = new TForm10(shop, &main);
    TForm6* form6 = new TForm6(shop, &main);
    // The browser asks for the connect dialog when it opens unconnected, from inside its opening
    // step, before it is on the screen itself; only the connect button's request is a pair here.
    bool connectOnRequest = false;
    TForm11* form11 = new TForm11(
        shop,
        [this] {
            if (connectOnRequest)
                seam->showModal(*form6);
        },
        &main);

    Program() {
        std::unique_ptr<SettingsStore> store = SettingsStore::open();
        store->writeString("Currency", "EUR");
        for (const char* name : {"localProg", "localDat", "localBg", "localBk"})
            store->writeString(name, dir.path());
        store->writeString("docRoot", "/");
        writeBytes(dir.file("db_sys.db"), "Kerzen;;Stumpen;Tafel;;kerzen.db\r\n");
    }
};

// One step opens a modal window from the window whose loop is running, and returns when it closed.
using Step = std::function<void(Program&)>;

const Step catalogs = [](Program& p) { p.seam->showModal(*p.form2); };
const Step newCatalog = [](Program& p) { p.form2->Button3Click(); };
const Step badCatalogName = [](Program& p) {
    p.form3->Edit1->setText(QStringLiteral("Kerzen;;Tafel"));
    p.form3->Button1Click();
};
const Step message = [](Program& p) { p.seam->showMessage(QStringLiteral("Hinweis")); };
const Step error = [](Program& p) { p.seam->showError(QStringLiteral("Fehler.")); };
const Step articles = [](Program& p) { p.seam->showModal(*p.form4); };
const Step deleteArticle = [](Program& p) { p.form4->Button3Click(); };
const Step newArticle = [](Program& p) {
    p.form4->ComboBox1->setCurrentIndex(0);
    p.form4->ComboBox1Change();
    p.form4->Button1Click();
};
const Step smallPicture = [](Program& p) { p.form5->SpeedButton1Click(); };
const Step directories = [](Program& p) { p.seam->showModal(*p.form10); };
const Step about = [](Program& p) { p.seam->showModal(*p.about); };
const Step ftpBrowser = [](Program& p) { p.seam->showModal(*p.form11); };
const Step connectFromBrowser = [](Program& p) {
    p.connectOnRequest = true;
    p.form11->Button7Click();
};
const Step permissions = [](Program& p) { p.form11->Button9Click(); };
const Step newDirectory = [](Program& p) { p.form11->Button10Click(); };

struct Pair {
    const char* name;
    // From the main window to the child under test; the window before the last is its owner.
    std::vector<Step> steps;
};

void PrintTo(const Pair& pair, std::ostream* os) {
    *os << pair.name;
}

// clang-format off
const Pair kPairs[] = {
    {"main window, Kataloge",               {catalogs}},
    {"Kataloge, Katalogname neu",           {catalogs, newCatalog}},
    {"Kataloge, message box",               {catalogs, message}},
    {"Katalogname neu, message box",        {catalogs, newCatalog, badCatalogName}},
    {"main window, Artikel",                {articles}},
    {"Artikel, confirmation",               {articles, deleteArticle}},
    {"Artikel, Erstellen/Ändern",           {articles, newArticle}},
    {"Erstellen/Ändern, picture chooser",   {articles, newArticle, smallPicture}},
    {"Erstellen/Ändern, error box",         {articles, newArticle, error}},
    {"main window, Verzeichnisse",          {directories}},
    {"main window, Info",                   {about}},
    {"main window, message box",            {message}},
    {"main window, FTP-Browser",            {ftpBrowser}},
    {"FTP-Browser, connect dialog",         {ftpBrowser, connectFromBrowser}},
    {"FTP-Browser, CHMOD",                  {ftpBrowser, permissions}},
    {"FTP-Browser, MakeDir",                {ftpBrowser, newDirectory}},
    {"FTP-Browser, message box",            {ftpBrowser, message}},
};
// clang-format on

// What the X server and the window manager say about the program's windows.
class Display {
public:
    Display() {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            m_connection = x11->connection();
        if (m_connection)
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    bool valid() const { return m_connection != nullptr; }

    // Managed windows, bottom to top.
    std::vector<xcb_window_t> stacking() const { return rootWindows("_NET_CLIENT_LIST_STACKING"); }
    xcb_window_t activeWindow() const {
        const std::vector<xcb_window_t> active = rootWindows("_NET_ACTIVE_WINDOW");
        return active.empty() ? 0 : active.front();
    }
    bool viewable(xcb_window_t window) const {
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        free(reply);
        return result;
    }

private:
    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 1, static_cast<uint16_t>(strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return result;
    }
    std::vector<xcb_window_t> rootWindows(const char* property) const {
        std::vector<xcb_window_t> windows;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, m_root, atom(property), XCB_ATOM_WINDOW, 0, 4096),
            nullptr);
        if (reply) {
            const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            windows.assign(data, data + xcb_get_property_value_length(reply) / sizeof(xcb_window_t));
        }
        free(reply);
        return windows;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
};

QString describe(const QWidget* w) {
    if (!w)
        return QStringLiteral("none");
    const QString title =
        w->windowTitle().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->windowTitle();
    return QStringLiteral("'%1' (0x%2)").arg(title).arg(w->winId(), 0, 16);
}

// Where child stands against owner now; empty when it is on top of every window, above owner,
// and holds the focus in the window manager's eyes and in Qt's.
QString stackingFault(const Display& x, QWidget* owner, QWidget* child) {
    const xcb_window_t c = static_cast<xcb_window_t>(child->winId());
    const xcb_window_t o = static_cast<xcb_window_t>(owner->winId());
    if (!x.viewable(c))
        return QStringLiteral("not mapped");
    const std::vector<xcb_window_t> order = x.stacking();
    const auto at = [&](xcb_window_t w) {
        const auto i = std::find(order.begin(), order.end(), w);
        return i == order.end() ? -1 : static_cast<int>(i - order.begin());
    };
    QStringList faults;
    if (at(c) < 0)
        faults << QStringLiteral("not managed by the window manager");
    else if (at(c) <= at(o))
        faults << QStringLiteral("stacked below its owner (%1 <= %2)").arg(at(c)).arg(at(o));
    else if (at(c) != static_cast<int>(order.size()) - 1)
        faults << QStringLiteral("not on top (%1 of %2)").arg(at(c)).arg(order.size());
    if (x.activeWindow() != c)
        faults << QStringLiteral("the window manager's active window is 0x%1").arg(x.activeWindow(), 0, 16);
    if (QApplication::activeWindow() != child)
        faults << QStringLiteral("Qt's active window is ") + describe(QApplication::activeWindow());
    return faults.join(QStringLiteral("; "));
}

void closeModal(QWidget* w) {
    if (auto* dialog = qobject_cast<QDialog*>(w))
        dialog->done(QDialog::Rejected);
    else if (w)
        w->close();
}

class StackingTest : public ::testing::TestWithParam<Pair> {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
            << "runs on a real X display, through under_window_manager.py";
        ASSERT_TRUE(m_x.valid());
        m_program.main.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_program.main, kWaitMs))
            << "the main window never became active";
        // A window that a step leaves open would wait forever for a click.
        m_watchdog.setInterval(60000);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
            m_fault = QStringLiteral("a window stayed open: ") + describe(QApplication::activeModalWidget());
            closeModal(QApplication::activeModalWidget());
        });
        m_watchdog.start();
    }

    // Runs steps[level] from inside the loop of owner; when it has opened its window, goes on with
    // the next level or, at the last one, checks the window against owner. Every window is closed
    // again on the way back.
    void open(std::size_t level, QWidget* owner) {
        const auto& steps = GetParam().steps;
        QWidget* before = QApplication::activeModalWidget();
        // The timer outlives this frame when the step opens nothing.
        auto returned = std::make_shared<bool>(false);
        QTimer::singleShot(0, &m_program.main, [this, &steps, level, owner, before, returned] {
            if (*returned) {
                m_fault = QStringLiteral("step %1 opened no modal window").arg(level + 1);
                return;
            }
            QPointer<QWidget> child;
            const bool shown = QTest::qWaitFor(
                [&] {
                    child = QApplication::activeModalWidget();
                    return child && child != before && child->isVisible();
                },
                kWaitMs);
            if (!shown) {
                m_fault = QStringLiteral("step %1 showed no window").arg(level + 1);
                closeModal(QApplication::activeModalWidget());
                return;
            }
            if (level + 1 < steps.size()) {
                open(level + 1, child);
            } else {
                QString fault;
                if (!QTest::qWaitFor([&] { return (fault = stackingFault(m_x, owner, child)).isEmpty(); },
                                     kWaitMs))
                    m_fault = describe(child) + QStringLiteral(" over ") + describe(owner) +
                              QStringLiteral(": ") + fault;
            }
            closeModal(child);
        });
        steps[level](m_program);
        *returned = true;
    }

    Program m_program;
    Display m_x;
    QString m_fault;
    QTimer m_watchdog;
};

TEST_P(StackingTest, ChildIsOnTopOfItsOwnerAndHasTheFocus) {
    open(0, &m_program.main);
    // Lets the timer of a step that opened nothing run while the windows still exist.
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_fault.isEmpty()) << m_fault.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Pairs, StackingTest, ::testing::ValuesIn(kPairs), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.name))
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
    return name;
});

} // namespace
