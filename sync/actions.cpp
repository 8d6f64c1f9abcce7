#include "sync/actions.h"

#include "platform/qt/text.h"
#include "shell/main.h"
#include "shell/settings.h"
#include "shell/shop.h"
#include "sync/connect.h"
#include "sync/core/articles.h"
#include "sync/core/orderfetch.h"

#include <memory>

namespace velmo::sync {

TransferContext transferContext(Shop& shop, StatusLine& status) {
    const TShopSettings& s = shop.ShopSettings;
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
    // Runs an action on the shop's state taken over from the main window and the process-wide
    // settings, and hands the state back however the action ends.
    auto run = [&main, &shop, busy](const std::function<void()>& action) {
        if (*busy)
            return;
        *busy = true;
        const QString home = shop.ShopSettings.ftpHome;
        shop.ShopSettings = ShopSettings;
        if (!home.isEmpty())
            shop.ShopSettings.ftpHome = home;
        shop.ftpConnected = ftpConnected;
        shop.MemoPic = main.MemoPic;
        shop.MemoThumb = main.MemoThumb;
        struct HandBack {
            TForm1& main;
            Shop& shop;
            bool& busy;
            ~HandBack() {
                ShopSettings.ftpHome = shop.ShopSettings.ftpHome;
                ftpConnected = shop.ftpConnected;
                main.MemoPic = shop.MemoPic;
                main.MemoThumb = shop.MemoThumb;
                main.Memo1 = shop.Memo1;
                main.Memo2 = shop.Memo2;
                main.Memo3 = shop.Memo3;
                busy = false;
            }
        } handBack{main, shop, *busy};
        action();
    };
    TForm1::Actions& a = main.actions;
    a.connect = [run, &connectDialog] {
        run([&connectDialog] { connectDialog.dialogs().showModal(connectDialog); });
    };
    a.disconnect = [run, &shop] { run([&shop] { shop.ftp.Disconnect(); }); };
    a.articleDownload = [run, &shop, &status] { run([&] { articleDownloadAction(shop, status); }); };
    a.articleUpload = [run, &shop, &status] { run([&] { articleUploadAction(shop, status); }); };
    a.ordersDownload = [run, &shop, &status] { run([&] { ordersDownloadAction(shop, status); }); };
}

} // namespace velmo::sync
