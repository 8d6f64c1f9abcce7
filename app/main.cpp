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

#include <memory>

using namespace velmo;

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
    // they close with it; a window that opens another is handed it, so it is created after it.
    auto mainWindow = std::make_unique<TForm1>(shop, currency);
    TForm1* main = mainWindow.get();
    auto* form3 = new TForm3(shop.dialogs, main);
    auto* form2 = new TForm2(shop, *form3, main);
    auto* form5 = new TForm5(shop, main);
    auto* form4 = new TForm4(shop, *form5, main);
    auto* form6 = new TForm6(shop, main);
    auto* form8 = new TForm8(shop, orderValues, main);
    auto* form7 = new TForm7(shop, orderValues, *form8, main);
    auto* aboutBox = new TAboutBox(shop.dialogs, main);
    auto* form10 = new TForm10(shop, main);
    // The browser creates its permissions (TForm12) and new-directory (TForm13) dialogs.
    auto* form11 = new TForm11(
        shop, [&shop, form6] { shop.dialogs.showModal(*form6); }, main);
    auto* form14 = new TForm14(shop, main);
    auto* form15 = new TForm15(shop, main);
    auto* invoiceSettings = new InvoiceSettingsWindow(shop, main);

    auto modal = [&shop](QDialog* window) { return [&shop, window] { shop.dialogs.showModal(*window); }; };
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

    main->show();
    main->activateWindow();
    QTimer::singleShot(0, main, [main] { main->ensureActivated(); });
    return app.exec();
}
