#include "sync/actions.h"

#include "platform/errors.h"
#include "platform/qt/text.h"
#include "shell/main.h"
#include "shell/shop.h"
#include "sync/connect.h"
#include "sync/core/articles.h"
#include "sync/core/orderfetch.h"

#include <memory>

namespace velmo::sync {

TransferContext transferContext(Shop& shop, StatusLine& status) {
    const TShopSettings& s = shop.ShopSettings;
    // Every transfer reads or writes data files; with no data directory they would land in "/".
    if (s.localDat.isEmpty())
        throw Exception("Das Datenverzeichnis ist nicht eingestellt (Optionen, Verzeichnisse)");
    DialogSeam& seam = shop.dialogs;
    return TransferContext{
        .ftp = shop.ftp,
        .localDat = toUtf8(s.localDat),
        .localBg = toUtf8(s.localBg),
        .localBk = toUtf8(s.localBk),
        .docRoot = fromQString(s.docRoot),
        .ftpHome = fromQString(s.ftpHome),
        .Memo1 = shop.Memo1,
        .Memo2 = shop.Memo2,
        .Memo3 = shop.Memo3,
        .MemoPic = shop.MemoPic,
        .MemoThumb = shop.MemoThumb,
        .ListingLines = shop.ListingLines,
        .status = [&status](const std::string& text) { status.setStatusText(fromUtf8(text)); },
        .message = [&seam](const std::string& text) { seam.showMessage(fromUtf8(text)); },
        .information = [&seam](const std::string& text) { seam.information(fromUtf8(text)); },
    };
}

void articleDownloadAction(Shop& shop, StatusLine& status) {
    articleDownload(transferContext(shop, status));
}

void articleUploadAction(Shop& shop, StatusLine& status) {
    articleUpload(transferContext(shop, status));
}

void ordersDownloadAction(Shop& shop, StatusLine& status) {
    const TransferContext ctx = transferContext(shop, status);
    ctx.Memo1.clear();
    ctx.Memo3.clear();
    struct ClearAfter {
        const TransferContext& ctx;
        ~ClearAfter() {
            ctx.Memo1.clear();
            ctx.Memo2.clear();
            ctx.Memo3.clear();
        }
    } clearAfter{ctx};
    OrderFetch(ctx).run();
}

void plugSyncActions(TForm1& main, Shop& shop, StatusLine& status, TForm6& connectDialog) {
    auto busy = std::make_shared<bool>(false);
    auto once = [busy](const std::function<void()>& action) {
        return [busy, action] {
            if (*busy)
                return;
            *busy = true;
            struct Release {
                bool& busy;
                ~Release() { busy = false; }
            } release{*busy};
            action();
        };
    };
    TForm1::Actions& a = main.actions;
    a.connect = once([&connectDialog] { connectDialog.dialogs().showModal(connectDialog); });
    a.disconnect = once([&shop] { shop.ftp.Disconnect(); });
    a.articleDownload = once([&shop, &status] { articleDownloadAction(shop, status); });
    a.articleUpload = once([&shop, &status] { articleUploadAction(shop, status); });
    a.ordersDownload = once([&shop, &status] { ordersDownloadAction(shop, status); });
    // A fetch killed while appending left part of its orders in the local files; they are cut
    // back before the order and statistics windows read them, and the next fetch merges them again.
    // While another program run is fetching into the same folder, that run does it.
    a.settingsLoaded = [&shop] {
        if (!shop.ShopSettings.localDat.isEmpty())
            datafiles::OrderStore::recoverIfIdle(toUtf8(shop.ShopSettings.localDat));
    };
}

} // namespace velmo::sync
