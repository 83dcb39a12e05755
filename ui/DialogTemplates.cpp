#include "ui/DialogTemplates.h"

#include "protocol/Notifications.h"

namespace varnel {
namespace {

using K = ControlKind;
using F = ControlFlags;
constexpr int S = kStaticId;

}  // namespace

DialogTemplate MainDialogTemplate() {
  using namespace main_ids;
  DialogTemplate t;
  t.id = 102;
  t.caption = std::string(kMainDialogCaption);
  t.width = 324;
  t.height = 233;
  t.pointSize = 9;
  t.flags = DialogFlags::SystemMenu | DialogFlags::MinimizeBox | DialogFlags::AppWindow;
  const std::uint32_t edit = F::Border | F::HScroll;
  // Wider than first drawn: the device-information box (95 -> 117), so the
  // disconnect text and an identity line with an eight-character S/N are read
  // whole, with the card group moved right to make room (its edits 116 -> 94);
  // and the CAN address edit (40 -> 58), so an extended identifier shows all ten
  // characters, its row's list and button narrower to make room.
  t.controls = {
      {S, K::Label, "卡号", 144, 22, 18, 8},
      {EditCardId, K::Edit, "", 162, 20, 94, 14, edit | F::ReadOnly | F::Centered},
      {FirmwarePath, K::FileBrowseEdit, "", 17, 203, 232, 14, edit},
      {Download, K::PushButton, "下载", 254, 203, 50, 14},
      {S, K::GroupBox, "固件升级", 7, 189, 310, 37},
      {S, K::GroupBox, "卡片读写", 139, 7, 178, 58},
      {SearchCard, K::PushButton, "开始寻卡", 262, 20, 50, 14},
      {EditDeviceInfo, K::EditMultiline, "", 13, 19, 117, 38, edit | F::ReadOnly},
      {S, K::GroupBox, "设备信息", 7, 7, 128, 58},
      {ComSerialBaud, K::DropDownList, "", 42, 109, 48, 30, F::VScroll},
      {S, K::Label, "串口速率", 13, 111, 28, 8},
      {SetSerialBaud, K::PushButton, "设置", 92, 108, 37, 14},
      {ComCanRate, K::DropDownList, "", 197, 110, 48, 30, F::VScroll},
      {S, K::Label, "CAN速率", 166, 112, 28, 8},
      {SetCanRate, K::PushButton, "设置", 249, 109, 37, 14},
      {EditSerialNodeAddr, K::Edit, "", 42, 89, 48, 12, edit | F::Centered},
      {S, K::Label, "节点地址", 13, 91, 28, 8},
      {SetSerialNodeAddr, K::PushButton, "设置", 92, 88, 37, 14},
      {EditCanNodeAddr, K::Edit, "", 173, 90, 58, 12, edit | F::Centered},
      {S, K::Label, "节点地址", 143, 92, 28, 8},
      {SetCanNodeAddr, K::PushButton, "设置", 279, 89, 30, 14},
      {ComCanFrameType, K::DropDownList, "", 234, 90, 42, 30, F::VScroll},
      {S, K::GroupBox, "串口设置", 9, 77, 125, 56},
      {S, K::GroupBox, "CAN设置", 139, 77, 175, 56},
      {S, K::Label, "卡号", 144, 43, 18, 8},
      // The card-write row has no request behind it: shown disabled so nobody thinks it writes.
      {EditWriteCardId, K::Edit, "", 162, 41, 94, 14, edit | F::Centered | F::Disabled},
      {WriteCard, K::PushButton, "写卡", 262, 41, 50, 14, F::Disabled},
      {S, K::GroupBox, "传感器设置", 7, 67, 310, 119},
      {ComSetOutMode, K::DropDownList, "", 96, 143, 48, 30, F::VScroll},
      {S, K::Label, "输出模式", 65, 145, 28, 8},
      {SetOutputMode, K::PushButton, "设置", 145, 142, 37, 14},
      {FactoryReset, K::PushButton, "恢复出厂设置", 180, 166, 52, 14},
      {SaveConfig, K::PushButton, "保存所有配置", 90, 166, 52, 14},
      {RestartSensor, K::PushButton, "重启传感器", 201, 142, 52, 14},
      {ProductionRegister, K::PushButton, "生产注册", 15, 158, 56, 20},
  };
  return t;
}

DialogTemplate ConnectDialogTemplate() {
  using namespace connect_ids;
  DialogTemplate t;
  t.id = 131;
  t.caption = "串口选择";
  t.pointSize = 8;
  t.flags = DialogFlags::SystemMenu;
#ifdef _WIN32
  t.width = 293;
  t.height = 72;
  t.controls = {
      {BaudList, K::DropDownList, "", 145, 26, 57, 30, F::VScroll | F::Disabled},
      {S, K::Label, "波特率", 114, 28, 25, 8},
      {S, K::Label, "串口", 29, 28, 17, 8},
      {PortList, K::DropDownList, "", 52, 26, 48, 30, F::VScroll},
      {Connect, K::PushButton, "连接", 215, 25, 50, 14},
      {S, K::Label, "Varnel 传感器服务工具", 183, 55, 100, 8},
  };
#else
  // Ports are listed by path here (/dev/ttyUSB0, or a simulator's link under the
  // runtime directory), so the port list is wide enough to read one whole.
  t.width = 405;
  t.height = 72;
  t.controls = {
      {BaudList, K::DropDownList, "", 257, 26, 57, 30, F::VScroll | F::Disabled},
      {S, K::Label, "波特率", 226, 28, 25, 8},
      {S, K::Label, "串口", 12, 28, 17, 8},
      {PortList, K::DropDownList, "", 32, 26, 186, 30, F::VScroll},
      {Connect, K::PushButton, "连接", 327, 25, 50, 14},
      {S, K::Label, "Varnel 传感器服务工具", 295, 55, 100, 8},
  };
#endif
  return t;
}

DialogTemplate ProgressDialogTemplate() {
  using namespace progress_ids;
  DialogTemplate t;
  t.id = 133;
  t.caption = std::string(kProgressDialogCaption);
  t.width = 343;
  t.height = 68;
  t.pointSize = 8;
  t.flags = DialogFlags::SystemMenu;
  t.controls = {
      {S, K::Label, "下载过程中请勿断开传感器或关闭本程序", 11, 9, 286, 10},
      {Bar, K::ProgressBar, "", 11, 23, 286, 22, F::Border},
      {Counter, K::StaticCentered, "0/0", 302, 30, 34, 8},
      {RateLine, K::Label, "", 11, 50, 286, 10},
  };
  return t;
}

DialogTemplate RegisterDialogTemplate() {
  using namespace register_ids;
  DialogTemplate t;
  t.id = 135;
  t.caption = "设备注册";
  t.width = 221;
  t.height = 56;
  t.pointSize = 8;
  t.flags = DialogFlags::SystemMenu;
  const std::uint32_t edit = F::Border | F::Centered;
  t.controls = {
      {S, K::Label, "序列号", 18, 23, 25, 8},
      {DatePrefix, K::Edit, "", 48, 20, 40, 14, edit | F::ReadOnly},
      {SerialText, K::Edit, "", 92, 20, 54, 14, edit | F::HScroll},
      {Register, K::PushButton, "注册", 156, 20, 50, 14},
  };
  return t;
}

}  // namespace varnel
