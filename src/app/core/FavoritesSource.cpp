#include "FavoritesSource.h"

#include <filesystem>
#include <system_error>

#include "FavoriteScan.h"
#include "sys/UserFolders.h"

namespace {

constexpr const char* kChooseAnother =
    " Einen anderen Ordner wählen Sie mit --favorites ORDNER, etwa einen von einer "
    "Windows-Festplatte kopierten oder dort eingehängten Favoritenordner.";
constexpr const char* kChooseAnotherInWindow =
    " Einen anderen Ordner wählen Sie mit „Ordner wählen...“ oder später mit „Quelle...“, etwa "
    "einen von einer Windows-Festplatte kopierten oder dort eingehängten Favoritenordner.";

std::string Absolute(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(folder, ec);
    return ec ? folder : path.lexically_normal().string();
}

}  // namespace

TFavoritesScan ScanFavorites(TFavoriteList& list, TShellBrowser* browser,
                             const std::string& given) {
    TFavoriteScanner scanner(list, browser);
    const std::size_t before = list.Count();
    TFavoritesScan scan;
    if (given.empty()) {
        scan.Folder = sys::HomeDirectory() + "/Favorites";
        scanner.FavoritenEinlesen();
    } else {
        scan.Folder = Absolute(given);
        scanner.ReadFolder(scan.Folder);
    }
    scan.Root = scanner.RootPath();
    scan.FolderFound = !scan.Root.empty();
    scan.Rows = list.Count() - before;
    scan.NoAddress = scanner.NoAddressFiles();
    scan.FoldersLimited = scanner.FoldersLimited();
    scan.SystemFoldersSkipped = scanner.SystemFoldersSkipped();
    return scan;
}

std::string NoFavoritesLine(const TFavoritesScan& scan, TProgramKind program) {
    const char* chooseAnother = program == kWindowProgram ? kChooseAnotherInWindow : kChooseAnother;
    if (!scan.FolderFound)
        return "Kein Favoritenordner gefunden: „" + scan.Folder + "“ gibt es nicht." +
               chooseAnother;
    if (scan.Rows == 0 && !scan.NoAddress.empty())
        return "Die Internet-Verknüpfungen in „" + scan.Folder + "“ enthalten keine Adresse.";
    if (scan.Rows == 0)
        return "Keine Internet-Verknüpfungen (*.url, *.desktop) in „" + scan.Folder +
               "“ gefunden." + chooseAnother;
    return {};
}

std::vector<std::string> ScanNoteLines(const TFavoritesScan& scan) {
    std::vector<std::string> lines;
    if (std::size_t n = scan.NoAddress.size(); n > 0)
        lines.push_back(n == 1 ? "1 Internet-Verknüpfung ohne Adresse übersprungen."
                               : std::to_string(n) +
                                     " Internet-Verknüpfungen ohne Adresse übersprungen.");
    if (scan.FoldersLimited)
        lines.push_back("Ordner, die über viele Verknüpfungen erreichbar sind, wurden höchstens " +
                        std::to_string(TFavoriteScanner::kMaxWalksPerFolder) + "-mal durchsucht.");
    if (scan.SystemFoldersSkipped)
        lines.push_back("Systemordner wie /proc und /sys wurden nicht durchsucht.");
    return lines;
}

std::string NoAddressLine(const std::string& path) {
    return "ohne Adresse übersprungen: " + path;
}
