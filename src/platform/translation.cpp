#include "platform/translation.h"

#include <QHash>
#include <array>

namespace kelta {

namespace {

int languageIndex = 0;

// Key, English, Traditional Chinese, Simplified Chinese. "&&" in a key is a caption's literal
// ampersand and stays doubled in its translations.
constexpr std::array<LanguageEntry, 144> kTable{{
    {"Local Listen Port :", "Local Listen Port :", "本地監聽埠 :", "本地监听埠 :"},
    {"Destination Port :", "Destination Port :", "目的埠 :", "目的埠 :"},
    {"IP :", "IP :", "IP 位址 :", "IP 位址 :"},
    {"Port :", "Port :", "埠號 :", "埠号 :"},
    {"TAG Count:", "TAG Count:", "標籤數量:", "标签数量:"},
    {"TAG ID:", "TAG ID:", "標籤 ID:", "标签 ID:"},
    {"Read TAG", "Read TAG", "讀取標籤", "读取标签"},
    {"Set TAG", "Set TAG", "設定標籤", "设定标签"},
    {"RSSI Filter:", "RSSI Filter:", "訊號強度過濾:", "讯号强度过滤:"},
    {"Tamper Alarm", "Tamper Alarm", "防拆警報", "防拆警报"},
    {"Tamper Alarm Reset", "Tamper Alarm Reset", "防拆警報重置", "防拆警报重置"},
    {"Start", "Start", "啟動", "启动"},
    {"Stop", "Stop", "停止", "停止"},
    {"Clear", "Clear", "清除", "清除"},
    {"Exit", "Exit", "離開", "离开"},
    {"View All TAG", "View All TAG", "檢視全部標籤", "检视全部标签"},
    {"View Select TAG", "View Select TAG", "檢視選擇標籤", "检视选择标签"},
    {"No.", "No.", "No.", "No."},
    {"UID", "UID", "標籤序號", "标签序号"},
    {"RSSI", "RSSI", "訊號強度", "讯号强度"},
    {"LQI", "LQI", "連線品質", "连线品质"},
    {"DI", "DI", "數位輸入", "数位输入"},
    {"T1", "T1", "溫度", "温度"},
    {"T2", "T2", "體溫/溼度", "体温/湿度"},
    {"Count", "Count", "讀取次數", "读取次数"},
    {"Tag ID Filter :", "Tag ID Filter :", "標籤 ID 過濾 :", "标签 ID 过滤 :"},
    {"Standard TAG", "Standard TAG", "標準標籤", "标准标签"},
    {"One Temperature", "One Temperature", "單溫度", "单温度"},
    {"Temperature && Humidity", "Temperature && Humidity", "溫度 && 濕度", "温度 && 湿度"},
    {"Two Temperature", "Two Temperature", "雙溫度", "双温度"},
    {"Select TAG ID (Double Click)", "Select TAG ID (Double Click)", "選擇標籤 ID (雙擊)",
     "选择标签 ID (双击)"},
    {"Set Reader", "Set Reader", "設定讀卡機", "设定读卡机"},
    {"Send Data:", "Send Data:", "傳送資料:", "传送资料:"},
    {"Recv Data:", "Recv Data:", "接收資料:", "接收资料:"},
    {"Reader Reset", "Reader Reset", "讀卡機重置", "读卡机重置"},
    {"Reader Initial", "Reader Initial", "讀卡機初始化", "读卡机初始化"},
    {"Get Version", "Get Version", "讀取版本", "读取版本"},
    {"Get Reader S/N", "Get Reader S/N", "讀取讀卡機序號", "读取读卡机序号"},
    {"Get Reader ID", "Get Reader ID", "讀取讀卡機 ID", "读取读卡机 ID"},
    {"Set Reader ID", "Set Reader ID", "設定讀卡機 ID", "设定读卡机 ID"},
    {"Set Baudrate", "Set Baudrate", "設定鮑率", "设定鲍率"},
    {"Set Auto Send", "Set Auto Send", "設定自動傳送", "设定自动传送"},
    {"Mode #0 NONE", "Mode #0 NONE", "Mode #0 NONE", "Mode #0 NONE"},
    {"Mode #1 BCC", "Mode #1 BCC", "Mode #1 BCC", "Mode #1 BCC"},
    {"Mode #2 ID", "Mode #2 ID", "Mode #2 ID", "Mode #2 ID"},
    {"Mode #3 ASCII", "Mode #3 ASCII", "Mode #3 ASCII", "Mode #3 ASCII"},
    {"Mode #4 OFF", "Mode #4 OFF", "Mode #4 OFF", "Mode #4 OFF"},
    {"Set Net Port", "Set Net Port", "設定網路埠", "设定网路埠"},
    {"ALL", "ALL", "全部", "全部"},
    {"NET", "NET", "網路介面 ", "网路介面 "},
    {"RS232", "RS232", "RS232 介面", "RS232 介面"},
    {"RS485", "RS485", "RS485 介面", "RS485 介面"},
    {"Set RSSI Level", "Set RSSI Level", "設定訊號強度等級", "设定讯号强度等级"},
    {"Set Gain Level", "Set Gain Level", "設定增益等級", "设定增益等级"},
    {"Select Function", "Select Function", "選擇功能", "选择功能"},
    {"TAG", "TAG", "標籤", "标签"},
    {"TM", "TM", "溫度標籤", "温度标签"},
    {"HT", "HT", "溫溼度標籤", "温湿度标签"},
    {"2X", "2X", "雙溫度標籤", "双温度标签"},
    {"Set TAG Active Time", "Set TAG Active Time", "設定標籤發射時間", "设定标签发射时间"},
    {"Get TAG Active Time", "Get TAG Active Time", "讀取標籤發射時間", "读取标签发射时间"},
    {"TAG OFF", "TAG OFF", "標籤關閉", "标签关闭"},
    {"TAG ON", "TAG ON", "標籤開啟", "标签开启"},
    {"Set TAG Receive Count", "Set TAG Receive Count", "設定標籤接收次數", "设定标签接收次数"},
    {"Get TAG Receive Count", "Get TAG Receive Count", "讀取標籤接收次數", "读取标签接收次数"},
    {"0-255 (0=No Receive)", "0-255 (0=No Receive)", "0-255 (0=不接收)", "0-255 (0=不接收)"},
    {"X 0.1 second", "X 0.1 second", "X 0.1 秒", "X 0.1 秒"},
    {"TAG Beep", "TAG Beep", "標籤蜂鳴器", "标签蜂鸣器"},
    {"LED1", "LED1", "指示燈1", "指示灯1"},
    {"LED2", "LED2", "指示燈2", "指示灯2"},
    {"TAG LED Mode", "TAG LED Mode", "標籤指示燈模式", "标签指示灯模式"},
    {"TAG LED", "TAG LED", "標籤指示燈", "标签指示灯"},
    {"TAG Version", "TAG Version", "標籤版本", "标签版本"},
    {"Key CanNot On/Off", "Key CanNot On/Off", "按鍵無法開關", "按键无法开关"},
    {"Key Press 5 Sec Off TAG", "Key Press 5 Sec Off TAG", "按鍵 5 秒關閉標籤",
     "按键 5 秒关闭标签"},
    {"Key Press On TAG", "Key Press On TAG", "按鍵開啟標籤", "按键开启标签"},
    {"Key Press On/Off TAG", "Key Press On/Off TAG", "按鍵開關標籤", "按键开关标签"},
    {"Power On/Off Mode", "Power On/Off Mode", "電源開關模式", "电源开关模式"},
    {"Please Read TAG First !", "Please Read TAG First !", "請先讀取標籤 !", "请先读取标签 !"},
    {"Setting TAG", "Setting TAG", "設定標籤中", "设定标签中"},
    {"Set TAG Ok", "Set TAG Ok", "設定 TAG 成功", "设定 TAG 成功"},
    {"Set TAG Error", "Set TAG Error", "設定 TAG 失敗", "设定 TAG 失败"},
    {"Number:", "Number:", "數量:", "数量:"},
    {"Time:", "Time:", "時間:", "时间:"},
    {"Save", "Save", "儲存", "储存"},
    {"Auto Save To File", "Auto Save To File", "自動儲存至檔案", "自动储存至档案"},
    {"All tags", "All Tags", "全部 Tag 資料", "全部 Tag 资料"},
    {"Anti-Tamper", "Anti-Tamper", "防拆", "防拆"},
    {"IR detect times", "IR detect times", "紅外線偵測次數", "红外线侦测次数"},
    {"IR detect interval", "IR detect interval", "紅外線偵測間隔", "红外线侦测间隔"},
    {"Temp difference", "Temp difference", "溫度差", "温度差"},
    {"Alarm count", "Alarm count", "警報次數", "警报次数"},
    {"Anti-Tamper detect:", "Anti-Tamper detect:", "防拆偵測:", "防拆侦测:"},
    {"ON", "ON", "開啟", "开启"},
    {"OFF", "OFF", "關閉", "关闭"},
    {"Temperature Alarm", "Temperature Alarm", "溫度警報", "温度警报"},
    {"Top Level", "Top Level", "Top Level", "Top Level"},
    {"High Level", "High Level", "High Level", "High Level"},
    {"Standard Temp", "Standard Temp", "Standard Temp", "Standard Temp"},
    {"Low Level", "Low Level", "Low Level", "Low Level"},
    {"Bottom Level", "Bottom Level", "Bottom Level", "Bottom Level"},
    {"Temperature alarm:", "Temperature alarm:", "溫度警報:", "温度警报:"},
    // Added to the original table: the status text for a model code the reader table does not
    // hold (%1: the code, four hex digits), translated like every other status text.
    {"Unknown reader model 0x%1", "Unknown reader model 0x%1", "未知的讀卡機型號 0x%1",
     "未知的读卡机型号 0x%1"},
    // The Links tab of the Read TAG page: its caption, column headers, link states (%1: the
    // seconds to the next attempt) and the age of the last report (%1: seconds).
    {"Links", "Links", "連線狀態", "连线状态"},
    {"Link", "Link", "連線", "连线"},
    {"Readers", "Readers", "讀卡機", "读卡机"},
    {"State", "State", "狀態", "状态"},
    {"Records", "Records", "筆數", "笔数"},
    {"Per second", "Per second", "每秒", "每秒"},
    {"Last 60 s", "Last 60 s", "最近 60 秒", "最近 60 秒"},
    {"Frames rejected", "Frames rejected", "拒收封包", "拒收封包"},
    {"Bytes discarded", "Bytes discarded", "丟棄位元組", "丢弃字节"},
    {"Last report", "Last report", "最後回報", "最后回报"},
    {"open", "open", "已連線", "已连线"},
    {"connecting", "connecting", "連線中", "连线中"},
    {"reconnecting in %1 s", "reconnecting in %1 s", "%1 秒後重新連線", "%1 秒后重新连线"},
    {"lost", "lost", "已中斷", "已中断"},
    {"port in use", "port in use", "埠已被占用", "端口已被占用"},
    {"%1 s", "%1 s", "%1 秒", "%1 秒"},
    // Tag history: the "History" entry of the tag grids and list, and its chart window.
    {"History", "History", "歷史圖表", "历史图表"},
    {"Tag history", "Tag history", "標籤歷史", "标签历史"},
    {"Add TAG", "Add TAG", "加入標籤", "加入标签"},
    {"Save as PNG", "Save as PNG", "另存為 PNG", "另存为 PNG"},
    {"Save as CSV", "Save as CSV", "另存為 CSV", "另存为 CSV"},
    {"Battery", "Battery", "電池", "电池"},
    {"Temperature (°C)", "Temperature (°C)", "溫度 (°C)", "温度 (°C)"},
    {"Humidity (%)", "Humidity (%)", "濕度 (%)", "湿度 (%)"},
    {"Counter", "Counter", "計數", "计数"},
    {"Time", "Time", "時間", "时间"},
    {"Saved to %1", "Saved to %1", "已儲存至 %1", "已储存至 %1"},
    {"Could not save %1", "Could not save %1", "無法儲存 %1", "无法储存 %1"},
    {"Not a TAG UID: %1", "Not a TAG UID: %1", "不是標籤 UID: %1", "不是标签 UID: %1"},
    // Progress of long operations: the status-bar panel with its Cancel button, the steps of
    // the tag-database read, of Reader Information and of a TAG Log download (%1, %2, %3:
    // numbers, or the step's own text).
    {"Cancel", "Cancel", "取消", "取消"},
    {"Command Cancelled.", "Command Cancelled.", "命令已取消。", "命令已取消。"},
    {"Done", "Done", "完成", "完成"},
    {"TAG database block %1 of %2", "TAG database block %1 of %2",
     "標籤資料庫：第 %1 區塊，共 %2 區塊", "标签资料库：第 %1 区块，共 %2 区块"},
    {"%1 (step %2 of %3)", "%1 (step %2 of %3)", "%1（第 %2 步，共 %3 步）",
     "%1（第 %2 步，共 %3 步）"},
    {"Asking the reader's model", "Asking the reader's model", "詢問讀卡機型號", "询问读卡机型号"},
    {"Setting the reader's clock", "Setting the reader's clock", "設定讀卡機時鐘",
     "设定读卡机时钟"},
    {"Asking the reader's version", "Asking the reader's version", "詢問讀卡機版本",
     "询问读卡机版本"},
    {"Reading the BT exciter", "Reading the BT exciter", "讀取 BT 激發器設定",
     "读取 BT 激发器设定"},
    {"TAG Log: %1 records", "TAG Log: %1 records", "TAG Log：已收到 %1 筆記錄",
     "TAG Log：已收到 %1 笔记录"},
    {"TAG Log: %1 records, the reader sent no more", "TAG Log: %1 records, the reader sent no more",
     "TAG Log：共 %1 筆記錄，讀卡機已無更多記錄", "TAG Log：共 %1 笔记录，读卡机已无更多记录"},
    {"TAG Log cancelled after %1 records.", "TAG Log cancelled after %1 records.",
     "TAG Log 已取消，已收到 %1 筆記錄。", "TAG Log 已取消，已收到 %1 笔记录。"},
}};

// Upper-cased key -> the first row with that key, and the rows' texts, built once.
struct Lookup {
    QHash<QString, int> rows;
    std::array<std::array<QString, kLanguageCount>, kTable.size()> texts;

    Lookup() {
        for (int i = 0; i < static_cast<int>(kTable.size()); ++i) {
            const LanguageEntry& e = kTable[static_cast<std::size_t>(i)];
            const QString key = QString::fromUtf8(e.key);
            if (!rows.contains(key.toUpper())) rows.insert(key.toUpper(), i);
            auto& t = texts[static_cast<std::size_t>(i)];
            t[0] = key;
            t[1] = QString::fromUtf8(e.traditional);
            t[2] = QString::fromUtf8(e.simplified);
        }
    }
};

const Lookup& lookup() {
    static const Lookup l;
    return l;
}

} // namespace

std::span<const LanguageEntry> languageTable() {
    return kTable;
}

int validLanguageIndex(int index) {
    return index >= 0 && index < kLanguageCount ? index : 0;
}

int currentLanguageIndex() {
    return languageIndex;
}

void setCurrentLanguageIndex(int index) {
    languageIndex = validLanguageIndex(index);
}

QString Translate(int language, const QString& text) {
    if (language < 1 || language >= kLanguageCount) return text;
    const Lookup& l = lookup();
    const auto it = l.rows.constFind(text.toUpper());
    if (it == l.rows.constEnd()) return text;
    return l.texts[static_cast<std::size_t>(*it)][static_cast<std::size_t>(language)];
}

} // namespace kelta
