#include "sync/actions.h"

#include "datafiles/orderstore.h"
#include "platform/errors.h"
#include "platform/qt/text.h"
#include "shell/main.h"
#include "shell/shop.h"
#include "sync/connect.h"

namespace velmo::sync {

ShopDirs shopDirs(const Shop& shop) {
    const TShopSettings& s = shop.ShopSettings;
    if (s.localDat.isEmpty())
        throw Exception("Das Datenverzeichnis ist nicht eingestellt (Optionen, Verzeichnisse)");
    return ShopDirs{
        .localDat = toUtf8(s.localDat),
        .localBg = toUtf8(s.localBg),
        .localBk = toUtf8(s.localBk),
        .docRoot = fromQString(s.docRoot),
        .ftpHome = fromQString(s.ftpHome),
    };
}

void articleDownloadAction(Shop& shop) {
    shop.connection.articleDownload(shopDirs(shop), shop.MemoPic, shop.MemoThumb);
}

void articleUploadAction(Shop& shop) {
    shop.connection.articleUpload(shopDirs(shop), shop.MemoPic, shop.MemoThumb);
}

void ordersDownloadAction(Shop& shop) {
    shop.connection.fetchOrders(shopDirs(shop));
}

void plugSyncActions(TForm1& main, Shop& shop, TForm6& connectDialog) {
    // One operation at a time is the connection's rule; the main window disables these items
    // while one runs.
    TForm1::Actions& a = main.actions;
    a.connect = [&connectDialog] { connectDialog.dialogs().showModal(connectDialog); };
    a.disconnect = [&shop] { shop.connection.disconnect(); };
    a.articleDownload = [&shop] { articleDownloadAction(shop); };
    a.articleUpload = [&shop] { articleUploadAction(shop); };
    a.ordersDownload = [&shop] { ordersDownloadAction(shop); };
    // A fetch killed while appending left part of its orders in the local files; they are cut
    // back before the order and statistics windows read them, and the next fetch merges them again.
    // While another program run is fetching into the same folder, that run does it.
    a.settingsLoaded = [&shop] {
        if (!shop.ShopSettings.localDat.isEmpty())
            datafiles::OrderStore::recoverIfIdle(toUtf8(shop.ShopSettings.localDat));
    };
}

} // namespace velmo::sync
