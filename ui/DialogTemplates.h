#pragma once
// The four dialogs of the tool as data: one line per control, positions in
// dialog units.
#include "ui/framework/DialogTemplate.h"

namespace varnel {

// Control ids of the main dialog (template 102).
namespace main_ids {
inline constexpr int EditCardId = 1000;
inline constexpr int FirmwarePath = 1001;
inline constexpr int Download = 1002;
inline constexpr int SearchCard = 1003;
inline constexpr int EditDeviceInfo = 1004;
inline constexpr int SetSerialBaud = 1005;
inline constexpr int SetCanRate = 1006;
inline constexpr int ComSerialBaud = 1007;
inline constexpr int ComCanRate = 1008;
inline constexpr int EditSerialNodeAddr = 1009;
inline constexpr int SetSerialNodeAddr = 1010;
inline constexpr int EditCanNodeAddr = 1011;
inline constexpr int SetCanNodeAddr = 1012;
inline constexpr int ComCanFrameType = 1013;
inline constexpr int EditWriteCardId = 1014;
inline constexpr int WriteCard = 1015;
inline constexpr int ComSetOutMode = 1016;
inline constexpr int SetOutputMode = 1017;
inline constexpr int FactoryReset = 1018;
inline constexpr int SaveConfig = 1019;
inline constexpr int RestartSensor = 1020;
inline constexpr int ProductionRegister = 1021;
}  // namespace main_ids

namespace connect_ids {
inline constexpr int BaudList = 1017;
inline constexpr int PortList = 1018;
inline constexpr int Connect = 1016;
}  // namespace connect_ids

namespace progress_ids {
inline constexpr int Bar = 1015;
inline constexpr int Counter = 1019;
inline constexpr int RateLine = 1020;  // speed and time left
}  // namespace progress_ids

namespace register_ids {
inline constexpr int DatePrefix = 1022;
inline constexpr int SerialText = 1023;
inline constexpr int Register = 1024;
}  // namespace register_ids

// What a dialog shows when a control it needs is missing from its template;
// the step that needed the control is skipped. The texts name the control
// objects as the dialogs call them.
namespace missing_texts {
inline constexpr char SettingsCombo[] = "Combo对象不存在，初始化失败";        // the settings lists and edits
inline constexpr char SerialNodeAddrEdit[] = "Edit对象不存在，初始化失败";    // main_ids::EditSerialNodeAddr
inline constexpr char OutputModeList[] = "ComSetOutMode对象不存在！";         // main_ids::ComSetOutMode
inline constexpr char DeviceInfoBox[] = "EditDeviceInfo对象不存在";           // main_ids::EditDeviceInfo
inline constexpr char CardIdBox[] = "EditCardId对象不存在";                   // main_ids::EditCardId
inline constexpr char ConnectCombo[] = "ComboBox对象不存在";                  // connect_ids lists
}  // namespace missing_texts

DialogTemplate MainDialogTemplate();      // 102, "Varnel"
DialogTemplate ConnectDialogTemplate();   // 131, "串口选择"
DialogTemplate ProgressDialogTemplate();  // 133, "固件下载进度"
DialogTemplate RegisterDialogTemplate();  // 135, "设备注册"

}  // namespace varnel
