#include "core/backup/DomainMapping.h"

#include <array>

namespace marrowick {

namespace {

struct DomainRow {
    std::string_view Domain;
    bool Prefix;
    std::string_view Folder; // the format's text before the path ("%s" of a prefix row goes after it)
};

// Tested in this order; the first row that matches wins.
constexpr std::array<DomainRow, 18> DomainRows{{
    {"WirelessDomain", false, "/var/wireless/"},
    {"ManagedPreferencesDomain", false, "/var/Managed Preferences/"},
    {"MediaDomain", false, "/var/mobile/"},
    {"SystemPreferencesDomain", false, "/var/preferences/"},
    {"CameraRollDomain", false, "/var/mobile/"},
    {"RootDomain", false, "/var/root/"},
    {"MobileDeviceDomain", false, "/var/MobileDevice/"},
    {"KeychainDomain", false, "/var/Keychains/"},
    {"HomeDomain", false, "/var/mobile/"},
    {"DatabaseDomain", false, "/var/db/"},
    {"AppDomain-", true, "/var/mobile/Applications/"},
    {"AppDomainPlugin-", true, "/var/mobile/Applications/"},
    {"AppDomainGroup-", true, "/var/mobile/Applications/"},
    {"SysContainerDomain-", true, "/var/containers/SystemGroup/"},
    {"SysSharedContainerDomain-", true, "/var/containers/Shared/SystemGroup/"},
    {"KeyboardDomain", false, "/var/mobile/"},
    {"HomeKitDomain", false, "/var/HomeKit/"},
    {"HealthDomain", false, "/var/mobile/"},
}};

// The domain with every occurrence of prefix removed.
void AppendWithoutOccurrences(std::string_view domain, std::string_view prefix, std::string& out) {
    std::size_t from = 0;
    for (std::size_t at = domain.find(prefix); at != std::string_view::npos; at = domain.find(prefix, from)) {
        out.append(domain.substr(from, at - from));
        from = at + prefix.size();
    }
    out.append(domain.substr(from));
}

} // namespace

void DomainToDevicePath(std::string_view domain, std::string_view relativePath, std::string& out) {
    out.clear();
    bool matched = false;
    for (const DomainRow& row : DomainRows) {
        if (row.Prefix ? domain.starts_with(row.Domain) : domain == row.Domain) {
            out.append(row.Folder);
            if (row.Prefix) {
                AppendWithoutOccurrences(domain, row.Domain, out);
                out.push_back('/');
            }
            matched = true;
            break;
        }
    }
    if (!matched) {
        out.append("/var/");
        out.append(domain);
        out.push_back('/');
    }
    out.append(relativePath);
    if (relativePath.empty()) {
        out.pop_back();
    }
}

std::string DomainToDevicePath(std::string_view domain, std::string_view relativePath) {
    std::string path;
    DomainToDevicePath(domain, relativePath, path);
    return path;
}

} // namespace marrowick
