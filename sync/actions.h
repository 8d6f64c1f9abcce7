#pragma once

#include "sync/core/shopconnection.h"

namespace velmo {

class Shop;
class TForm1;
class TForm6;

namespace sync {

// The shop's directories for the server transfers. Throws when the data directory is not set:
// every transfer reads or writes data files, which would otherwise land in "/".
ShopDirs shopDirs(const Shop& shop);

// The menu actions: "Artikel" → "Download" / "Upload", "Bestellungen" → "Download".
void articleDownloadAction(Shop& shop);
void articleUploadAction(Shop& shop);
void ordersDownloadAction(Shop& shop);

// Plugs the connect dialog and the transfers into the main window's menu. Once the settings are
// loaded, an order merge left half-way is cut back.
void plugSyncActions(TForm1& main, Shop& shop, TForm6& connectDialog);

} // namespace sync
} // namespace velmo
