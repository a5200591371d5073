#include "FavoritesSource.h"

#include <filesystem>
#include <system_error>

#include "FavoriteScan.h"
#include "sys/UserFolders.h"

namespace {

constexpr const char* kChooseAnother =
    " Einen anderen Ordner wählen Sie mit --favorites ORDNER, etwa einen von einer "
    "Windows-Festplatte kopierten oder dort eingehängten Favoritenordner.";

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
    scan.FolderFound = !scanner.RootPath().empty();
    scan.Rows = list.Count() - before;
    return scan;
}

std::string NoFavoritesLine(const TFavoritesScan& scan) {
    if (!scan.FolderFound)
        return "Kein Favoritenordner gefunden: „" + scan.Folder + "“ gibt es nicht." +
               kChooseAnother;
    if (scan.Rows == 0)
        return "Keine Internet-Verknüpfungen (*.url) in „" + scan.Folder + "“ gefunden." +
               kChooseAnother;
    return {};
}
