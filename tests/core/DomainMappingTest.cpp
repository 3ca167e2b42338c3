#include "core/backup/DomainMapping.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowick {
namespace {

struct MappingRow {
    std::string Domain;
    std::string RelativePath;
    std::string DevicePath;
};

void PrintTo(const MappingRow& row, std::ostream* os) {
    *os << row.Domain << " + \"" << row.RelativePath << '"';
}

class DomainMapping : public ::testing::TestWithParam<MappingRow> {};

TEST_P(DomainMapping, GivesDevicePath) {
    EXPECT_EQ(DomainToDevicePath(GetParam().Domain, GetParam().RelativePath), GetParam().DevicePath);
}

INSTANTIATE_TEST_SUITE_P(
    ExactRows, DomainMapping,
    ::testing::Values(
        MappingRow{"WirelessDomain", "Library/x", "/var/wireless/Library/x"},
        MappingRow{"ManagedPreferencesDomain", "mobile/a.plist", "/var/Managed Preferences/mobile/a.plist"},
        MappingRow{"MediaDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG"},
        MappingRow{"SystemPreferencesDomain", "SystemConfiguration/x", "/var/preferences/SystemConfiguration/x"},
        MappingRow{"CameraRollDomain", "Media/PhotoData", "/var/mobile/Media/PhotoData"},
        MappingRow{"RootDomain", "Library/Caches", "/var/root/Library/Caches"},
        MappingRow{"MobileDeviceDomain", "ProvisioningProfiles", "/var/MobileDevice/ProvisioningProfiles"},
        MappingRow{"KeychainDomain", "keychain-backup.plist", "/var/Keychains/keychain-backup.plist"},
        MappingRow{"HomeDomain", "Library/SMS/sms.db", "/var/mobile/Library/SMS/sms.db"},
        MappingRow{"DatabaseDomain", "timezone/localtime", "/var/db/timezone/localtime"},
        MappingRow{"KeyboardDomain", "Library/Keyboard/x", "/var/mobile/Library/Keyboard/x"},
        MappingRow{"HomeKitDomain", "Library/homed/x", "/var/HomeKit/Library/homed/x"},
        MappingRow{"HealthDomain", "Library/Health/x", "/var/mobile/Library/Health/x"}));

INSTANTIATE_TEST_SUITE_P(
    PrefixRows, DomainMapping,
    ::testing::Values(
        MappingRow{"AppDomain-demoapp", "Documents/a.txt", "/var/mobile/Applications/demoapp/Documents/a.txt"},
        MappingRow{"AppDomainPlugin-demo.plugin", "Library/p", "/var/mobile/Applications/demo.plugin/Library/p"},
        MappingRow{"AppDomainGroup-demogroup", "x", "/var/mobile/Applications/demogroup/x"},
        MappingRow{"SysContainerDomain-demosys", "y", "/var/containers/SystemGroup/demosys/y"},
        MappingRow{"SysSharedContainerDomain-demoshared", "y", "/var/containers/Shared/SystemGroup/demoshared/y"},
        // Every occurrence of the prefix is removed, not only the leading one.
        MappingRow{"AppDomain-oneAppDomain-two", "f", "/var/mobile/Applications/onetwo/f"}));

INSTANTIATE_TEST_SUITE_P(EdgeCases, DomainMapping,
                         ::testing::Values(MappingRow{"HomeDomain", "", "/var/mobile"},
                                           MappingRow{"AppDomain-demoapp", "", "/var/mobile/Applications/demoapp"},
                                           MappingRow{"AppDomain-", "Documents", "/var/mobile/Applications//Documents"},
                                           MappingRow{"AppDomain-", "", "/var/mobile/Applications/"},
                                           MappingRow{"homedomain", "Library/x", "/var/homedomain/Library/x"},
                                           MappingRow{"FooDomain", "a/b", "/var/FooDomain/a/b"},
                                           MappingRow{"FooDomain", "", "/var/FooDomain"},
                                           MappingRow{"", "a", "/var//a"}, MappingRow{"", "", "/var/"},
                                           MappingRow{"HomeDomain", "Library/Caches/", "/var/mobile/Library/Caches/"},
                                           MappingRow{"HomeDomain", "Library/\xC3\xA9t\xC3\xA9.txt",
                                                      "/var/mobile/Library/\xC3\xA9t\xC3\xA9.txt"}));

TEST(DomainMappingInto, ReplacesFormerContentOfOut) {
    std::string out = "left over from another entry";
    DomainToDevicePath("RootDomain", "a", out);
    EXPECT_EQ(out, "/var/root/a");
}

} // namespace
} // namespace marrowick
