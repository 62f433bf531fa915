/* RAVoduza_Download.dll: the functions it exports and the window class of
 * its download dialog. Plain C, for any caller that loads the library.
 *
 * Each function comes in an ANSI form (texts in the system's ANSI code page)
 * and a UTF-16 form (the same name ending in W), all __stdcall, exported
 * undecorated. Every function returns 1 on success and 0 otherwise, and never
 * lets an exception escape. */
#ifndef RAVODUZA_DOWNLOAD_H
#define RAVODUZA_DOWNLOAD_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets an option for the rest of the process: "title" (the dialog's caption)
 * or "language" (the full path of a language file), in any letter case.
 * 0 for any other option name or a null text. */
int __stdcall rvdl_SetOption(const char* option, const char* value);
int __stdcall rvdl_SetOptionW(const wchar_t* option, const wchar_t* value);

/* Downloads the URL into the file (a full path) while the download dialog
 * shows the progress, owned by `owner` (may be null). 1 when the file is
 * there, complete. 0 for a null or empty URL or file; 0 too when the download
 * failed or was cancelled, and then no file is left at that path. */
int __stdcall rvdl_Download(HWND owner, const char* url, const char* file);
int __stdcall rvdl_DownloadW(HWND owner, const wchar_t* url, const wchar_t* file);

/* The same functions as pointers, as GetProcAddress gives them. */
typedef int(__stdcall* rvdl_SetOptionProc)(const char* option, const char* value);
typedef int(__stdcall* rvdl_SetOptionWProc)(const wchar_t* option, const wchar_t* value);
typedef int(__stdcall* rvdl_DownloadProc)(HWND owner, const char* url, const char* file);
typedef int(__stdcall* rvdl_DownloadWProc)(HWND owner, const wchar_t* url, const wchar_t* file);

/* The window class of the download dialog, by which another program finds it. */
#define RVDL_DIALOG_CLASS L"RAVoduzaDownloadDialog"

#ifdef __cplusplus
}
#endif

#endif /* RAVODUZA_DOWNLOAD_H */
