#include "core/config/config_block.h"

namespace norvane {
namespace {

constexpr std::string_view kLegacyNames[kLegacyAddressCount] = {
    "PowerOnOff", "AlarmOnOff", "SpeakerOnOff", "GraphicModeOnOff", "BackLightTimeoutSeconds",
    "IdleTitleDisplayMode", "AlarmCPMValueHiByte", "AlarmCPMValueLoByte",
    "CalibrationCPMHiByte_0", "CalibrationCPMLoByte_0", "CalibrationuSvUcByte3_0", "CalibrationuSvUcByte2_0",
    "CalibrationuSvUcByte1_0", "CalibrationuSvUcByte0_0",
    "CalibrationCPMHiByte_1", "CalibrationCPMLoByte_1", "CalibrationuSvUcByte3_1", "CalibrationuSvUcByte2_1",
    "CalibrationuSvUcByte1_1", "CalibrationuSvUcByte0_1",
    "CalibrationCPMHiByte_2", "CalibrationCPMLoByte_2", "CalibrationuSvUcByte3_2", "CalibrationuSvUcByte2_2",
    "CalibrationuSvUcByte1_2", "CalibrationuSvUcByte0_2",
    "IdleDisplayMode", "AlarmValueuSvByte3", "AlarmValueuSvByte2", "AlarmValueuSvByte1", "AlarmValueuSvByte0",
    "AlarmType", "SaveDataType", "SwivelDisplay", "ZoomByte3", "ZoomByte2", "ZoomByte1", "ZoomByte0",
    "SPI_DataSaveAddress2", "SPI_DataSaveAddress1", "SPI_DataSaveAddress0",
    "SPI_DataReadAddress2", "SPI_DataReadAddress1", "SPI_DataReadAddress0",
    "nPowerSavingMode", "nSensitivityMode", "nCOUNTER_DELAY_HiByte", "nCOUNTER_DELAY_LoByte", "nDisplayContrast",
    "MAX_CPM_HIBYTE", "MAX_CPM_LOBYTE", "nSensitivityAutoModeThreshold", "nLargeFontMode", "nLCDBackLightLevel",
    "nReverseDisplayMode", "nMotionDetect", "bBatteryType", "nBaudRate", "nCPMSpeakerOnOffCalib",
    "nGraphicDrawingMode", "nLEDOnOff", "nHCPMCAL", "nSaveThresholdValueuSv_m_nCPM_HIBYTE",
    "nSaveThresholdValueuSv_m_nCPM_LOBYTE", "nSaveThresholdMode", "nSaveThresholdValue3", "nSaveThresholdValue2",
    "nSaveThresholdValue1", "nSaveThresholdValue0", "FAST_ESTIMATE_TIME", "RTC_OFFSET", "ALARM_VOLUME",
    "TUBE_VOLTAGE",
    "C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9", "C10", "C11",
    "C12", "C13", "C14", "C15", "C16", "C17", "C18", "C19", "C20", "C21", "C22", "C23",
    "U0", "U1", "U2", "U3", "U4", "U5", "U6", "U7", "U8", "U9", "U10", "U11",
    "U12", "U13", "U14", "U15", "U16", "U17", "U18", "U19", "U20", "U21", "U22", "U23",
    "Save_DateTimeYear", "Save_DateTimeMonth", "Save_DateTimeDate", "Save_DateTimeHour", "Save_DateTimeMinute",
    "Save_DateTimeSecond", "MaximumBytes"};

}  // namespace

std::optional<size_t> LastNonBlankAddress(const ConfigBlock& block) {
  for (size_t a = block.size(); a-- > 0;)
    if (block[a] != kErased) return a;
  return std::nullopt;
}

std::string_view LegacyAddressName(size_t address) {
  return address < kLegacyAddressCount ? kLegacyNames[address] : std::string_view{};
}

}  // namespace norvane
