// Identifiers of the loader's resources, shared by the .rc files and the code.
#pragma once

// The manifest that asks for the version 6 common controls, carried by a
// loader that asks for rights only to install: its wizard's buttons draw the
// shield. Resource 1 is the application manifest.
#define IDR_COMMON_CONTROLS 2

// String table (texts in strings.rc, English and German).
#define IDS_LANGUAGE_CODE 1
#define IDS_OK 100
#define IDS_CANCEL 101
#define IDS_INSTALL 110
#define IDS_INSTALL_ERROR 200
#define IDS_NO_ADMIN_RIGHTS 290
#define IDS_LIBRARY_MISSING 291
#define IDS_LIBRARY_EXPORT_MISSING 292
#define IDS_PRODUCT_CANNOT_START 293
#define IDS_SETUP_CANNOT_START 294
#define IDS_TEMP_FOLDER_UNUSABLE 295
#define IDS_SEE_LOG 296
#define IDS_SETUP_NOT_SIGNED 297
#define IDS_SIGNATURE_MISSING 298
#define IDS_SIGNATURE_DAMAGED 299
#define IDS_OTHER_PUBLISHER 300
#define IDS_OTHER_KEY 301
#define IDS_SETUP_REPLACED 302
#define IDS_WIZARD_TITLE 400
#define IDS_WELCOME 401
#define IDS_DOWNLOAD_FIRST 402
#define IDS_AFTERWARDS 403
#define IDS_WILL_COMMENCE 404
#define IDS_SETTINGS 410
#define IDS_AUTOSTART 411
#define IDS_CANCEL_QUESTION 500

// The program icon (group; its images are 30001 and 30002) and the wizard picture.
#define IDI_PROGRAM 1
#define IDB_SETUP 1
