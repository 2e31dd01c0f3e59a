#pragma once
// Every user-defaults key of the application, declared once. The constant's name is the
// key's text. Types and meanings are those of the settings screen's table; the backup keys
// hold the unfinished order.

namespace orvo::defaults {

// Server and login.
inline constexpr const char* serverIP = "serverIP";
inline constexpr const char* serverPort = "serverPort";
inline constexpr const char* userId = "userId";
inline constexpr const char* userPassword = "userPassword";
inline constexpr const char* adminPw = "adminPw";
inline constexpr const char* AutoLogin = "AutoLogin";

// Division, warehouse and sales-order modes.
inline constexpr const char* divisionCode = "divisionCode";
inline constexpr const char* companyName = "companyName";
inline constexpr const char* divisionStatus = "divisionStatus";
inline constexpr const char* printSoWithSignStatus = "printSoWithSignStatus";
inline constexpr const char* overBooking = "overBooking";
inline constexpr const char* soAddShipDay = "soAddShipDay";
inline constexpr const char* companyLogo = "companyLogo";
inline constexpr const char* MultiSo = "MultiSo";
inline constexpr const char* RealtimeSoStatus = "RealtimeSoStatus";
inline constexpr const char* MultiColorSoStatus = "MultiColorSoStatus";
inline constexpr const char* SoStatus = "SoStatus";
inline constexpr const char* DupItemStatus = "DupItemStatus";
inline constexpr const char* priceLevel = "priceLevel";
inline constexpr const char* warehouseState = "warehouseState";
inline constexpr const char* warehouseCode = "warehouseCode";

// Notifications and time-out.
inline constexpr const char* timeOutFunc = "timeOutFunc";
inline constexpr const char* timeOut = "timeOut";
inline constexpr const char* previousOrderFunc = "previousOrderFunc";
inline constexpr const char* negativeStocksFunc = "negativeStocksFunc";
inline constexpr const char* otsWarningFunc = "otsWarningFunc";

// Printing.
inline constexpr const char* Print2Copies = "Print2Copies";
inline constexpr const char* PrintUsingServer = "PrintUsingServer";
inline constexpr const char* printerName = "printerName";

// Sleeve.
inline constexpr const char* ScannerAutoCharge = "ScannerAutoCharge";
inline constexpr const char* ScannerPassSync = "ScannerPassSync";

// Server lists of order-header choices (JSON text of a list each).
inline constexpr const char* terms = "terms";
inline constexpr const char* shipvia = "shipvia";
inline constexpr const char* paymentcode = "paymentcode";
inline constexpr const char* state = "state";
inline constexpr const char* country = "country";
inline constexpr const char* salesrep = "salesrep";
inline constexpr const char* customerpriority = "customerpriority";

// Settings per Wi-Fi network.
inline constexpr const char* BSSID = "BSSID";
inline constexpr const char* SettingsByBSSID = "SettingsByBSSID";

// Camera scanner.
inline constexpr const char* isFlashLightOn = "isFlashLightOn";

// Backup of the unfinished order.
inline constexpr const char* backupOrderListArray = "backupOrderListArray";
inline constexpr const char* backupEditedPriceArray = "backupEditedPriceArray";
inline constexpr const char* backupCustomerId = "backupCustomerId";
inline constexpr const char* backupStoreId = "backupStoreId";
inline constexpr const char* backupPriceLevel = "backupPriceLevel";
inline constexpr const char* backupOrderNumber = "backupOrderNumber";
inline constexpr const char* backupOrderDiscountRate = "backupOrderDiscountRate";
inline constexpr const char* backupSOmemo = "backupSOmemo";
inline constexpr const char* backupDateTime = "backupDateTime";
inline constexpr const char* OrderProcessingFlag = "OrderProcessingFlag";
// What the last insert of the unfinished order told the server about itself (the values the
// processing check asks with), written before that insert leaves; cleared with the flag.
inline constexpr const char* OrderProcessingInsert = "OrderProcessingInsert";
inline constexpr const char* pDupNum = "pDupNum";

}  // namespace orvo::defaults
