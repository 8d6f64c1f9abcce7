#include "shell/main.h"
#include "catalog/artedit.h"
#include "catalog/artikel.h"
#include "catalog/kataloge.h"
#include "catalog/katneu.h"
#include "ftp/qt/qteventpump.h"
#include "ftpbrowser/chmod.h"
#include "ftpbrowser/ftpedit.h"
#include "ftpbrowser/mkdir.h"
#include "memtable/qt/datalink.h"
#include "orders/bestell.h"
#include "orders/invoicesettingswindow.h"
#include "orders/print.h"
#include "shell/application.h"
#include "shell/currency.h"
#include "shell/desktop.h"
#include "shell/dialogs.h"
#include "shell/info.h"
#include "shell/overz.h"
#include "shell/shop.h"
#include "statistics/u_artikel.h"
#include "statistics/u_preis.h"
#include "sync/actions.h"
#include "sync/connect.h"

#include <QTimer>

#include <functional>
#include <memory>

using namespace velmo;

namespace {

// A window made the first time it is asked for, by the function given; its parent owns it then.
template <class Window> class MadeOnFirstUse {
public:
    explicit MadeOnFirstUse(std::function<Window*()> make) : m_make(std::move(make)) {}
    Window& operator*() {
        if (!m_window)
            m_window = m_make();
        return *m_window;
    }

private:
    std::function<Window*()> m_make;
    Window* m_window = nullptr;
};

} // namespace

int main(int argc, char** argv) {
    // The Qt seam keeps no state of its own, so it may exist before the application object; the
    // application's backstop shows what a handler lets escape through it.
    const std::unique_ptr<DialogSeam> seam = makeQtDialogs();
    VelmoApplication app(argc, argv, *seam);
    setUpDesktop(app);
    // Errors inside the bound views (a typed character that starts an edit, a click that posts one)
    // end in the standard error box like every other handler's.
    setDataLinkErrorHandler([&dialogs = *seam](const std::exception& e) { showException(dialogs, e); });

    // The FTP client waits inside Qt's event processing, so windows repaint and stay usable while a
    // transfer waits for the server.
    installQtEventPump();
    Shop shop(*seam);
    // What the order window and the invoice share for the whole run.
    OrderValues orderValues;
    // Asked for before the main window has settled, so it has no owner.
    TForm9 currency(shop.dialogs);

    // Each window gets what it uses through its constructor. The main window owns the others, so
    // they close with it; a window that opens another is handed it. Each is made the first time it
    // is opened, so the main window paints without waiting for the others to be built.
    auto mainWindow = std::make_unique<TForm1>(shop, currency);
    TForm1* main = mainWindow.get();
    auto* form6 = new TForm6(shop, main);
    MadeOnFirstUse<TForm3> form3([&] { return new TForm3(shop.dialogs, main); });
    MadeOnFirstUse<TForm2> form2([&] { return new TForm2(shop, *form3, main); });
    MadeOnFirstUse<TForm5> form5([&] { return new TForm5(shop, main); });
    MadeOnFirstUse<TForm4> form4([&] { return new TForm4(shop, *form5, main); });
    MadeOnFirstUse<TForm8> form8([&] { return new TForm8(shop, orderValues, main); });
    MadeOnFirstUse<TForm7> form7([&] { return new TForm7(shop, orderValues, *form8, main); });
    MadeOnFirstUse<TAboutBox> aboutBox([&] { return new TAboutBox(shop.dialogs, main); });
    MadeOnFirstUse<TForm10> form10([&] { return new TForm10(shop, main); });
    // The browser creates its permissions (TForm12) and new-directory (TForm13) dialogs.
    MadeOnFirstUse<TForm11> form11([&] {
        return new TForm11(
            shop, [&shop, form6] { shop.dialogs.showModal(*form6); }, main);
    });
    MadeOnFirstUse<TForm14> form14([&] { return new TForm14(shop, main); });
    MadeOnFirstUse<TForm15> form15([&] { return new TForm15(shop, main); });
    MadeOnFirstUse<InvoiceSettingsWindow> invoiceSettings(
        [&] { return new InvoiceSettingsWindow(shop, main); });

    auto modal = [&shop](auto& window) { return [&shop, &window] { shop.dialogs.showModal(*window); }; };
    TForm1::Actions& a = main->actions;
    a.catalogs = modal(form2);
    a.articles = modal(form4);
    a.ordersEdit = modal(form7);
    a.ftpBrowser = modal(form11);
    a.statisticsArticles = modal(form14);
    a.statisticsTurnover = modal(form15);
    a.directories = modal(form10);
    a.invoiceSettings = modal(invoiceSettings);
    a.about = modal(aboutBox);
    sync::plugSyncActions(*main, shop, *form6);

    probeFirstPaint(*main);
    main->show();
    main->activateWindow();
    QTimer::singleShot(0, main, [main] { main->ensureActivated(); });
    return app.exec();
}
