#pragma once

#include "sync/core/transfer.h"

namespace velmo {

class Shop;
class StatusLine;
class TForm1;
class TForm6;

namespace sync {

// The transfers' view of the shop: its client, directories, lists and the ways to tell the user.
TransferContext transferContext(Shop& shop, StatusLine& status);

// The menu actions: "Artikel" → "Download" / "Upload", "Bestellungen" → "Download".
void articleDownloadAction(Shop& shop, StatusLine& status);
void articleUploadAction(Shop& shop, StatusLine& status);
void ordersDownloadAction(Shop& shop, StatusLine& status);

// Plugs the connect dialog and the transfers into the main window's menu. A second action started
// from the menu while one is waiting for the server is ignored: both would talk over the one
// control connection. Once the settings are loaded, an order merge left half-way is cut back.
void plugSyncActions(TForm1& main, Shop& shop, StatusLine& status, TForm6& connectDialog);

} // namespace sync
} // namespace velmo
