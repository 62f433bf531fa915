#include "basInstaller.h"

#include "InstallRoad.h"
#include "Rights.h"
#include "RoadEnd.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "basRegistry.h"
#include "resource.h"

namespace rvz {

LoaderConfig ReadLoaderConfig(const std::wstring& modulePath) {
    LoaderConfig config;
    config.modulePath = modulePath;
    config.folder = GetDirectoryPart(modulePath);
    const IniFile file(config.folder + kConfigFileName);
    config.appName = Trim(file.Read(L"Loader", L"AppName"));
    config.gridCommand = Trim(file.Read(L"Loader", L"GridCommand"));
    return config;
}

std::wstring ReadInstallRecord() {
    return RegReadString(HKEY_LOCAL_MACHINE, kInstallRecordKey, kInstallRecordValue);
}

std::optional<ProductStart> InstalledProduct(const std::wstring& record, const std::wstring& command) {
    ProductStart product = ProductStartFor(record, command, FileExists);
    if (product.program.empty()) return std::nullopt;
    return product;
}

ExitCode Main(const LoaderConfig& config) {
    const std::wstring record = ReadInstallRecord();
    if (const auto product = InstalledProduct(record, config.gridCommand)) {
        RunGridCommand(*product);
        return kExitProductStarted;
    }
    return RunNotInstalledRoad(config, record);
}

std::wstring RunGridCommand(const ProductStart& product) {
    try {
        // Never elevated when it can be helped: Tarvik handles documents and
        // the network, and belongs to the user who sits at the desktop.
        DesktopToken desktop = DesktopUserToken();
        if (desktop.token) {
            try {
                StartProgram(product.program, product.commandLine, desktop.token.get());
                return L"as the desktop user";
            } catch (const WinError& error) {
                desktop.why = L"CreateProcessWithToken: " + SystemErrorText(error.code());
            }
        }
        StartProgram(product.program, product.commandLine);
        return L"with the loader's own rights (" + desktop.why + L")";
    } catch (const WinError& error) {
        // The loader's words in the user's language, the reason in the system's.
        throw UserError(kExitUnexpectedError, ResString(IDS_PRODUCT_CANNOT_START) + L"\r\n\r\n" +
                                                  product.commandLine + L"\r\n" +
                                                  SystemErrorText(error.code()));
    }
}

}  // namespace rvz
