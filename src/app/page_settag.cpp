#include "app/controls_setreader.h"
#include "app/controls_settag.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace kelta {

using namespace pagekit;

namespace {

constexpr auto kPresetPin = "7D41A09C3E5B2F86";

// One setting row: scroll bar, its value text, the set button and (optionally) a read button.
void settingRow(QGridLayout* g, int row, QScrollBar* bar, QLineEdit* value, QPushButton* set,
                QPushButton* get = nullptr) {
    g->addWidget(bar, row, 0);
    g->addWidget(value, row, 1);
    set->setMinimumWidth(set->fontMetrics().horizontalAdvance(QStringLiteral("Receive Count")) +
                         24);
    g->addWidget(set, row, 2);
    // The read column keeps its width when its buttons are hidden, so that the rows of
    // neighbouring groups line up.
    const int getWidth = set->fontMetrics().horizontalAdvance(QStringLiteral("GET")) + 48;
    g->addItem(new QSpacerItem(getWidth, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), row, 3);
    g->setColumnStretch(0, 1);
    if (get) {
        get->setMinimumWidth(getWidth);
        g->addWidget(get, row, 3);
    }
}

QStringList keyItems(const QString& pattern, int count) {
    QStringList items;
    for (int i = 1; i <= count; ++i) items << pattern.arg(i);
    return items;
}

void buildTargetStrip(SetTagControls& c) {
    c.Panel6 = panel("Panel6");
    c.pnlTagMsg = panel("pnlTagMsg", QStringLiteral("Select Function"));
    c.pnlTagMsg->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    c.pnlTagMsg->setMinimumSize(260, 40);
    c.pnlTagMsg->setWordWrap(true);

    c.gbVntag610Id = group("gbVntag610Id", QStringLiteral("TAG ID"));
    c.cmbSelectIdmode =
        combo("cmbSelectIdmode", {QStringLiteral("UID Mode"), QStringLiteral("CID Mode")});
    c.edTagID = edit("edTagID", QStringLiteral("0001000112050211"), 16);
    c.edTagID->setMinimumWidth(c.edTagID->fontMetrics().horizontalAdvance(QString(18, 'D')));
    {
        auto* g = gridOf(c.gbVntag610Id);
        g->addWidget(label(QStringLiteral("ID Mode:")), 0, 0);
        g->addWidget(c.cmbSelectIdmode, 0, 1);
        g->addWidget(label(QStringLiteral("ID:")), 0, 2);
        g->addWidget(c.edTagID, 0, 3);
        g->setColumnStretch(4, 1);
    }
    c.btnExit03 = button("btnExit03", QStringLiteral("Exit"));
    c.edRecv = edit("edRecv", {});
    c.edSend = edit("edSend", {});
    hide({c.edRecv, c.edSend});

    auto* v = new QVBoxLayout(c.Panel6);
    v->setContentsMargins(6, 6, 6, 6);
    auto* row = new QHBoxLayout;
    row->addWidget(c.gbVntag610Id, 1);
    row->addWidget(c.btnExit03, 0, Qt::AlignBottom);
    v->addWidget(c.pnlTagMsg, 1);
    v->addLayout(row);
    v->addWidget(c.edRecv);
    v->addWidget(c.edSend);

    c.pnlSetTagM = panel("pnlSetTagM");
    auto* holder = new QVBoxLayout(c.pnlSetTagM);
    holder->setContentsMargins(0, 0, 0, 0);
}

void buildAesPage(SetTagControls& c) {
    c.tsAes128 = sheet("tsAes128", QStringLiteral("AES-128"));
    c.gbTagAesKey = group("gbTagAesKey", QStringLiteral("AES128-KEY SET"));
    c.edKey = edit("edKey", {}, 32);
    c.edKey->setMinimumWidth(c.edKey->fontMetrics().horizontalAdvance(QString(34, 'D')));
    c.cbKeyNo = combo("cbKeyNo", keyItems(QStringLiteral("KEY %1"), 8));
    c.btSetKey = button("btSetKey", QStringLiteral("SET TAG KEY"));
    c.edPinNo = edit("edPinNo", QLatin1String(kPresetPin), 16);
    hide({c.edPinNo});
    auto* g = gridOf(c.gbTagAesKey);
    g->addWidget(label(QStringLiteral("KEY:")), 0, 0);
    g->addWidget(c.edKey, 0, 1);
    g->addWidget(c.cbKeyNo, 0, 2);
    g->addWidget(c.btSetKey, 0, 3);
    g->addWidget(c.edPinNo, 1, 1);
    auto* pg = pageGrid(c.tsAes128);
    pg->addWidget(c.gbTagAesKey, 0, 0);
    closeGrid(pg, 1, 1);
}

void buildAdminPage(SetTagControls& c) {
    c.tsTagAdmain = sheet("tsTagAdmain", QStringLiteral("TAG-ADMAIN"));

    c.gbTagAdmainCid = group("gbTagAdmainCid", QStringLiteral("CID SET"));
    QLineEdit** uids[] = {&c.edTagAdmainUid1, &c.edTagAdmainUid2, &c.edTagAdmainUid3,
                          &c.edTagAdmainUid4};
    auto* cg = gridOf(c.gbTagAdmainCid);
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "edTagAdmainUid" + QByteArray::number(i + 1);
        *uids[i] = edit(name.constData(), QStringLiteral("0001"), 4);
        (*uids[i])->setMaximumWidth(70);
        cg->addWidget(*uids[i], 0, i);
    }
    c.btTagAdmainUid = button("btTagAdmainUid", QStringLiteral("SET CID"));
    cg->addWidget(c.btTagAdmainUid, 0, 4);

    c.gbTagAdmainIdMode = group("gbTagAdmainIdMode", QStringLiteral("UID/CID Mode"));
    c.cmbIdModeSet =
        combo("cmbIdModeSet", {QStringLiteral("CID MODE"), QStringLiteral("UID MODE")});
    c.btIdModeSet = button("btIdModeSet", QStringLiteral("ID MODE SET"));
    {
        auto* g = gridOf(c.gbTagAdmainIdMode);
        g->addWidget(c.cmbIdModeSet, 0, 0);
        g->addWidget(c.btIdModeSet, 0, 1);
    }

    c.gbTagAdmainAes = group("gbTagAdmainAes", QStringLiteral("AES128"));
    c.cmbAesMode = combo("cmbAesMode", {QStringLiteral("AES128 OFF"), QStringLiteral("AES128 ON")});
    c.btAesModeSet = button("btAesModeSet", QStringLiteral("AES ON/OFF"));
    {
        auto* g = gridOf(c.gbTagAdmainAes);
        g->addWidget(c.cmbAesMode, 0, 0);
        g->addWidget(c.btAesModeSet, 0, 1);
    }

    c.gbTagAdmainKey = group("gbTagAdmainKey", QStringLiteral("SELECT KEY"));
    c.cmbTagSelectKey =
        combo("cmbTagSelectKey", keyItems(QStringLiteral("KEY-%1"), 8) << QStringLiteral("KEY-G"));
    c.btTagSelectKey = button("btTagSelectKey", QStringLiteral("SELECT KEY"));
    {
        auto* g = gridOf(c.gbTagAdmainKey);
        g->addWidget(c.cmbTagSelectKey, 0, 0);
        g->addWidget(c.btTagSelectKey, 0, 1);
    }
    c.edTagAdmainPin = edit("edTagAdmainPin", QLatin1String(kPresetPin), 16);
    hide({c.edTagAdmainPin});

    auto* pg = pageGrid(c.tsTagAdmain);
    pg->addWidget(c.gbTagAdmainCid, 0, 0, 1, 2);
    pg->addWidget(c.gbTagAdmainIdMode, 1, 0);
    pg->addWidget(c.gbTagAdmainAes, 1, 1);
    pg->addWidget(c.gbTagAdmainKey, 2, 0);
    pg->addWidget(c.edTagAdmainPin, 3, 0);
    closeGrid(pg, 4, 2);
}

void buildGuestPage(SetTagControls& c) {
    c.tsTagGuest = sheet("tsTagGuest", QStringLiteral("TAG-GUEST"));
    const QString tenth = QStringLiteral("0.1 Sec");

    c.gbTagGuestActive = group("gbTagGuestActive", QStringLiteral("Active"));
    c.sbTagGuestActiveMode = scroll("sbTagGuestActiveMode", 1, 20, 10);
    c.edTagGuestActivMode = valueEdit("edTagGuestActivMode", QStringLiteral("2.5 Sec"));
    c.btTagActivTimeV3_SET = button("btTagActivTimeV3_SET", QStringLiteral("Active Time"));
    c.btTagActivTimeV3_GET = button("btTagActivTimeV3_GET", QStringLiteral("GET"));
    c.sbTagGuestActiveCnt = scroll("sbTagGuestActiveCnt", 1, 255, 1);
    c.edTagGuestActivCnt = valueEdit("edTagGuestActivCnt", QStringLiteral("1"));
    c.btTagActivCountV3_SET = button("btTagActivCountV3_SET", QStringLiteral("Activte Count"));
    c.btTagActivCountV3_GET = button("btTagActivCountV3_GET", QStringLiteral("GET"));
    c.sbTagGuestReceiveCnt = scroll("sbTagGuestReceiveCnt", 0, 255, 10);
    c.edTagGuestReceiveCnt = valueEdit("edTagGuestReceiveCnt", QStringLiteral("10"));
    c.btTagReceiveCountV3_SET = button("btTagReceiveCountV3_SET", QStringLiteral("Receive Count"));
    c.btTagReceiveCountV3_GET = button("btTagReceiveCountV3_GET", QStringLiteral("GET"));
    {
        auto* g = gridOf(c.gbTagGuestActive);
        settingRow(g, 0, c.sbTagGuestActiveMode, c.edTagGuestActivMode, c.btTagActivTimeV3_SET,
                   c.btTagActivTimeV3_GET);
        settingRow(g, 1, c.sbTagGuestActiveCnt, c.edTagGuestActivCnt, c.btTagActivCountV3_SET,
                   c.btTagActivCountV3_GET);
        settingRow(g, 2, c.sbTagGuestReceiveCnt, c.edTagGuestReceiveCnt, c.btTagReceiveCountV3_SET,
                   c.btTagReceiveCountV3_GET);
    }

    c.gbTagBeepLed = group("gbTagBeepLed", QStringLiteral("Beep / LED"));
    c.sbTagBeep = scroll("sbTagBeep", 1, 255, 1);
    c.edTagBeep = valueEdit("edTagBeep", tenth);
    c.btTagBeepV3_SET = button("btTagBeepV3_SET", QStringLiteral("Beep"));
    c.btTagBeepV3_GET = button("btTagBeepV3_GET", QStringLiteral("GET"));
    c.sbTagLedR = scroll("sbTagLedR", 1, 255, 1);
    c.edTagLedR = valueEdit("edTagLedR", tenth);
    c.btTagLedRV3_SET = button("btTagLedRV3_SET", QStringLiteral("LED-R"));
    c.btTagLedRV3_GET = button("btTagLedRV3_GET", QStringLiteral("GET"));
    c.sbTagLedG = scroll("sbTagLedG", 1, 255, 1);
    c.edTagLedG = valueEdit("edTagLedG", tenth);
    c.btTagLedGV3_SET = button("btTagLedGV3_SET", QStringLiteral("LED-G"));
    c.btTagLedGV3_GET = button("btTagLedGV3_GET", QStringLiteral("GET"));
    hide({c.btTagBeepV3_GET, c.btTagLedRV3_GET, c.btTagLedGV3_GET});
    {
        auto* g = gridOf(c.gbTagBeepLed);
        settingRow(g, 0, c.sbTagBeep, c.edTagBeep, c.btTagBeepV3_SET, c.btTagBeepV3_GET);
        settingRow(g, 1, c.sbTagLedR, c.edTagLedR, c.btTagLedRV3_SET, c.btTagLedRV3_GET);
        settingRow(g, 2, c.sbTagLedG, c.edTagLedG, c.btTagLedGV3_SET, c.btTagLedGV3_GET);
    }

    c.gbTagGSensor = group("gbTagGSensor", QStringLiteral("G-Sensor"));
    struct Row {
        QScrollBar** bar;
        QLineEdit** value;
        QPushButton** set;
        QPushButton** get;
        const char* caption;
        int max;
        int position;
        const char* text;
    };
    const Row rows[] = {
        {&c.sbTag_GSensor00, &c.edTag_GSensor00, &c.btnGSensor00_SET, &c.btnGSensor00_GET,
         "Detect times", 255, 10, "10"},
        {&c.sbTag_GSensor01, &c.edTag_GSensor01, &c.btnGSensor01_SET, &c.btnGSensor01_GET,
         "Detect interval", 20, 8, "0.6 Sec"},
        {&c.sbTag_GSensor02, &c.edTag_GSensor02, &c.btnGSensor02_SET, &c.btnGSensor02_GET,
         "Standard value", 255, 3, "3"},
        {&c.sbTag_GSensor03, &c.edTag_GSensor03, &c.btnGSensor03_SET, &c.btnGSensor03_GET,
         "Angle variation", 255, 3, "3"},
        {&c.sbTag_GSensor04, &c.edTag_GSensor04, &c.btnGSensor04_SET, &c.btnGSensor04_GET,
         "Exceeded Count", 255, 2, "2"},
        {&c.sbTag_GSensor05, &c.edTag_GSensor05, &c.btnGSensor05_SET, &c.btnGSensor05_GET,
         "Alarm count", 255, 10, "10"},
    };
    {
        auto* g = gridOf(c.gbTagGSensor);
        int i = 0;
        for (const Row& r : rows) {
            const QByteArray n = QByteArray::number(i).rightJustified(2, '0');
            *r.bar = scroll(("sbTag_GSensor" + n).constData(), 1, r.max, r.position);
            *r.value = valueEdit(("edTag_GSensor" + n).constData(), QLatin1String(r.text));
            *r.set = button(("btnGSensor" + n + "_SET").constData(), QLatin1String(r.caption));
            *r.get = button(("btnGSensor" + n + "_GET").constData(), QStringLiteral("GET"));
            settingRow(g, i, *r.bar, *r.value, *r.set, *r.get);
            ++i;
        }
    }

    c.butTagVer_GET = button("butTagVer_GET", QStringLiteral("GET TAG Version"));
    c.pnlTagVer_GET = panel("pnlTagVer_GET");
    c.pnlTagVer_GET->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    c.pnlTagVer_GET->setMinimumWidth(
        c.pnlTagVer_GET->fontMetrics().horizontalAdvance(QString(18, 'W')));
    c.edTagGuestPin = edit("edTagGuestPin", QLatin1String(kPresetPin), 16);
    hide({c.edTagGuestPin});
    auto* version = new QHBoxLayout;
    version->addWidget(c.butTagVer_GET);
    version->addWidget(c.pnlTagVer_GET, 1);
    version->addWidget(c.edTagGuestPin);

    auto* pg = pageGrid(c.tsTagGuest);
    pg->addWidget(c.gbTagGuestActive, 0, 0);
    pg->addWidget(c.gbTagBeepLed, 1, 0);
    pg->addLayout(version, 2, 0);
    pg->addWidget(c.gbTagGSensor, 0, 1, 3, 1);
    pg->setColumnStretch(0, 1);
    pg->setColumnStretch(1, 1);
    pg->setRowStretch(3, 1);
}

void buildV1Page(SetTagControls& c) {
    c.tsTagV1 = sheet("tsTagV1", QStringLiteral("V1 TAG SET"));
    const QString tenth = QStringLiteral("0.1 Sec");

    c.gbV1BeepLed = group("gbV1BeepLed", QStringLiteral("Beep / LED"));
    c.sbV1TagBeep = scroll("sbV1TagBeep", 1, 255, 1);
    c.edV1TagBeep = valueEdit("edV1TagBeep", tenth);
    c.btV1TagBeep = button("btV1TagBeep", QStringLiteral("Beep"));
    c.sbV1TagLedR = scroll("sbV1TagLedR", 1, 255, 1);
    c.edV1TagLedR = valueEdit("edV1TagLedR", tenth);
    c.btV1TagLedR = button("btV1TagLedR", QStringLiteral("Led R"));
    c.sbV1TagLedG = scroll("sbV1TagLedG", 1, 255, 1);
    c.edV1TagLedG = valueEdit("edV1TagLedG", tenth);
    c.btV1TagLedG = button("btV1TagLedG", QStringLiteral("Led G"));
    {
        auto* g = gridOf(c.gbV1BeepLed);
        settingRow(g, 0, c.sbV1TagBeep, c.edV1TagBeep, c.btV1TagBeep);
        settingRow(g, 1, c.sbV1TagLedR, c.edV1TagLedR, c.btV1TagLedR);
        settingRow(g, 2, c.sbV1TagLedG, c.edV1TagLedG, c.btV1TagLedG);
    }

    c.gbV1Active = group("gbV1Active", QStringLiteral("Active"));
    c.sbV1TagActMode = scroll("sbV1TagActMode", 1, 20, 10);
    c.edV1TagActMode = valueEdit("edV1TagActMode", QStringLiteral("2.5 Sec"));
    c.btV1TagActMode = button("btV1TagActMode", QStringLiteral("Active Time"));
    c.btV1TagActModeGet = button("btV1TagActModeGet", QStringLiteral("GET"));
    c.sbV1TagActCnt = scroll("sbV1TagActCnt", 1, 255, 1);
    c.edV1TagActCnt = valueEdit("edV1TagActCnt", QStringLiteral("1"));
    c.btV1TagActCnt = button("btV1TagActCnt", QStringLiteral("Activte Count"));
    c.btV1TagActCntGet = button("btV1TagActCntGet", QStringLiteral("GET"));
    c.sbV1TagReceiver = scroll("sbV1TagReceiver", 1, 255, 10);
    c.edV1TagReceiver = valueEdit("edV1TagReceiver", QStringLiteral("10"));
    c.btV1TagReceiver = button("btV1TagReceiver", QStringLiteral("Receive Count"));
    c.btV1TagReceiverGet = button("btV1TagReceiverGet", QStringLiteral("GET"));
    hide({c.btV1TagActModeGet, c.btV1TagActCntGet, c.btV1TagReceiverGet});
    {
        auto* g = gridOf(c.gbV1Active);
        settingRow(g, 0, c.sbV1TagActMode, c.edV1TagActMode, c.btV1TagActMode, c.btV1TagActModeGet);
        settingRow(g, 1, c.sbV1TagActCnt, c.edV1TagActCnt, c.btV1TagActCnt, c.btV1TagActCntGet);
        settingRow(g, 2, c.sbV1TagReceiver, c.edV1TagReceiver, c.btV1TagReceiver,
                   c.btV1TagReceiverGet);
    }

    auto* pg = pageGrid(c.tsTagV1);
    pg->addWidget(c.gbV1BeepLed, 0, 0);
    pg->addWidget(c.gbV1Active, 0, 1);
    pg->setColumnStretch(0, 1);
    pg->setColumnStretch(1, 1);
    pg->setRowStretch(1, 1);
}

} // namespace

void buildSetTagPage(SetTagControls& c, TabSheet* page) {
    buildTargetStrip(c);

    c.pcSetTag = new PageControl;
    c.pcSetTag->setObjectName(QStringLiteral("pcSetTag"));
    buildAesPage(c);
    buildAdminPage(c);
    buildGuestPage(c);
    buildV1Page(c);
    for (TabSheet* ts : {c.tsAes128, c.tsTagAdmain, c.tsTagGuest, c.tsTagV1})
        c.pcSetTag->addSheet(ts);
    c.pcSetTag->setActivePage(c.tsTagGuest);

    // Top: the link choice (moved here while the page is shown) beside the target strip.
    auto* top = new QHBoxLayout;
    top->addWidget(c.pnlSetTagM, 0, Qt::AlignTop);
    top->addWidget(c.Panel6, 1);

    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(6);
    v->addLayout(top);
    v->addWidget(c.pcSetTag, 1);
}

} // namespace kelta
