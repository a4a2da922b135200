// The identity parse: model, command language, model code, firmware version
// and logic board from an identity text.
#include "link/identity.h"

#include <gtest/gtest.h>

#include <string>

#include "link/printer_data.h"
#include "morlix/printer_codes.h"
#include "platform/debug_output.h"

namespace {

using morlix::PrinterData;

struct IdentityCase {
    const char* label;
    const char* identity;
    bool hasModel;
    const char* name;
    int model;
    int type;
    const char* version;
    int logicBoard;
    float versionNumber;
};

class IdentityParse : public ::testing::TestWithParam<IdentityCase> {};

// Runs both parses as a search does, on a record whose earlier values are
// recognisable (logic board 7, model 9, name "old").
PrinterData parsed(const std::string& identity, bool* modelFound = nullptr) {
    PrinterData record{};
    morlix::setFieldText(record.printerName, "old");
    record.printerModel = 9;
    record.logicBdType = 7;
    morlix::storeDeviceId(record, {reinterpret_cast<const std::uint8_t*>(identity.data()), identity.size()});
    const bool found = morlix::ParseModelFromID(&record);
    if (modelFound) *modelFound = found;
    morlix::GetFWVersionFromID(&record);
    return record;
}

TEST_P(IdentityParse, DerivesTheRecordFields) {
    const IdentityCase& c = GetParam();
    bool modelFound = !c.hasModel;
    PrinterData record = parsed(c.identity, &modelFound);
    EXPECT_EQ(modelFound, c.hasModel);
    EXPECT_EQ(morlix::fieldText(record.printerName), c.name);
    EXPECT_EQ(record.printerModel, c.model);
    EXPECT_EQ(record.printerType, c.type);
    EXPECT_EQ(morlix::fieldText(record.firmwareVersion), c.version);
    EXPECT_EQ(record.logicBdType, c.logicBoard);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber(morlix::fieldText(record.firmwareVersion)),
                    c.versionNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Identities, IdentityParse,
    ::testing::Values(
        IdentityCase{"RvaWithGAndXPrefixedVersion", "MFG:Acme;MDL:RVA 100G;FWV:xx5.03 build 7;", true,
                     "RVA 100G", 0, 0, "5.03", 2, 5.03f},
        IdentityCase{"RvbVersionKeepsItsSemicolon", "MFG:Acme;MDL:RVB 300;FWV:2.10;", true, "RVB 300", 1, 1,
                     "2.10;", 1, 2.1f},
        IdentityCase{"LeadingGDoesNotCount", "MDL:GRV 1;FWV:1.0(beta);", true, "GRV 1", 3, 1, "1.0", 0, 1.0f},
        IdentityCase{"BothModelsRvaWins", "MDL:RVB RVA;FWV:3", true, "RVB RVA", 0, 1, "3", 2, 3.0f},
        // No keys at all: type 1, the rest kept; the version is "Not found".
        IdentityCase{"NoKeys", "nothing to see here", false, "old", 9, 1, "Not found", 7, 0.0f},
        // Keys at the very end: empty values.
        IdentityCase{"ModelKeyAtTheEnd", "junk MDL:", true, "", 3, 1, "Not found", 7, 0.0f},
        IdentityCase{"VersionKeyAtTheEndAfterXs", "MDL:X;FWV:xxx", true, "X", 3, 1, "", 7, 0.0f},
        // A version without digits leaves the logic board as it was.
        IdentityCase{"VersionWithoutDigits", "MDL:X;FWV:beta;", true, "X", 3, 1, "beta;", 7, 0.0f},
        // Bytes above 127 pass through untouched.
        IdentityCase{"BytesAbove127",
                     "MDL:RVA\xE9\xFFG;FWV:x\xB0"
                     "9.5 ",
                     true, "RVA\xE9\xFFG", 0, 0,
                     "\xB0"
                     "9.5",
                     2, 9.5f}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.label); });

TEST(IdentityParse, HugeValuesAreCutAtTheirFields) {
    // An identity fills deviceId to its last byte, without a terminator.
    std::string identity = "MDL:" + std::string(3000, 'M') + ";FWV:" + std::string(3000, '4');
    PrinterData record = parsed(identity);
    EXPECT_EQ(morlix::fieldText(record.deviceId).size(), sizeof record.deviceId - 1);
    EXPECT_EQ(morlix::fieldText(record.printerName), std::string(sizeof record.deviceId - 5, 'M'));
    EXPECT_EQ(record.printerModel, 3);
    // FWV: was cut off with the rest of the identity.
    EXPECT_STREQ(record.firmwareVersion, "Not found");

    std::string longVersion = "MDL:A;FWV:" + std::string(2000, '1');
    record = parsed(longVersion);
    EXPECT_EQ(morlix::fieldText(record.firmwareVersion).size(), sizeof record.deviceId - 1 - 10);
    EXPECT_EQ(record.logicBdType, 0);
}

TEST(IdentityParse, AnEmbeddedNulEndsTheIdentity) {
    const std::uint8_t bytes[] = {'M', 'D', 'L', ':', 'A', 0, 'F', 'W', 'V', ':', '5'};
    PrinterData record{};
    morlix::storeDeviceId(record, bytes);
    EXPECT_EQ(morlix::fieldText(record.deviceId), "MDL:A");
}

TEST(IdentityParse, LogsAsTheFieldServiceExpects) {
    morlix::platform::DebugCapture log;
    parsed("MDL:RVB RVA;FWV:xx2.5 ");
    const std::vector<std::string> expected = {"**************************** printerData->printerName",
                                               "RVB RVA",
                                               "RVB found",
                                               "RVA found",
                                               "GetFWVersionFromID - entry",
                                               "Found x!!!!!!!!!",
                                               "Found x!!!!!!!!!",
                                               "GetFWVersionFromID - LOGIC_BD_II",
                                               "Printer version number",
                                               "2.5"};
    EXPECT_EQ(log.lines(), expected);
}

TEST(FirmwareVersionNumber, ConvertsLikeTheDecimalConversion) {
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber("5.03;MDL:x"), 5.03f);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber("v4.99"), 4.99f);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber("1e1x"), 10.0f);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber("0x10"), 0.0f);  // decimal only
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber("Not found"), 0.0f);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber(""), 0.0f);
    EXPECT_FLOAT_EQ(morlix::firmwareVersionNumber(std::string(400, '9')), 0.0f);
}

}  // namespace
