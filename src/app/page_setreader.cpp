#include "app/controls_setreader.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kelta {

namespace pagekit {

QPushButton* button(const char* name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QLatin1String(name));
    return b;
}

QCheckBox* check(const char* name, const QString& caption) {
    auto* b = new QCheckBox(caption);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLineEdit* edit(const char* name, const QString& text, int maxLength) {
    auto* e = new QLineEdit;
    e->setObjectName(QLatin1String(name));
    if (maxLength > 0) e->setMaxLength(maxLength);
    e->setText(text);
    return e;
}

QLineEdit* valueEdit(const char* name, const QString& text) {
    auto* e = edit(name, text);
    e->setReadOnly(true);
    e->setAlignment(Qt::AlignCenter);
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("0000.00 Sec ")));
    e->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return e;
}

QComboBox* combo(const char* name, const QStringList& items, int index) {
    auto* b = new QComboBox;
    b->setObjectName(QLatin1String(name));
    b->addItems(items);
    if (!items.isEmpty()) b->setCurrentIndex(index);
    return b;
}

QScrollBar* scroll(const char* name, int min, int max, int position) {
    auto* s = new QScrollBar(Qt::Horizontal);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setSingleStep(1);
    s->setPageStep(max - min >= 100 ? 10 : 1);
    s->setValue(position);
    s->setMinimumWidth(140);
    return s;
}

QLabel* label(const QString& caption, const char* name) {
    auto* l = new QLabel(caption);
    if (name) l->setObjectName(QLatin1String(name));
    return l;
}

Panel* panel(const char* name, const QString& caption) {
    auto* p = new Panel(caption);
    p->setObjectName(QLatin1String(name));
    return p;
}

Panel* valuePanel(const char* name, const QString& caption) {
    auto* p = panel(name, caption);
    p->setMinimumWidth(p->fontMetrics().horizontalAdvance(QStringLiteral("00000000 Sec")) + 8);
    p->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return p;
}

QGroupBox* group(const char* name, const QString& title) {
    auto* g = new QGroupBox(title);
    g->setObjectName(QLatin1String(name));
    return g;
}

TabSheet* sheet(const char* name, const QString& caption) {
    auto* s = new TabSheet(caption);
    s->setObjectName(QLatin1String(name));
    return s;
}

void hide(std::initializer_list<QWidget*> widgets) {
    for (QWidget* w : widgets) w->setVisible(false);
}

QGridLayout* gridOf(QWidget* parent) {
    auto* g = new QGridLayout(parent);
    g->setContentsMargins(6, 6, 6, 6);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(4);
    return g;
}

// A settings page: its groups in a grid, pushed to the top-left so that they stay compact.
QGridLayout* pageGrid(TabSheet* ts) {
    auto* g = gridOf(ts);
    g->setHorizontalSpacing(10);
    g->setVerticalSpacing(10);
    return g;
}

void closeGrid(QGridLayout* g, int rows, int cols) {
    g->setRowStretch(rows, 1);
    g->setColumnStretch(cols, 1);
}

} // namespace pagekit

using namespace pagekit;

namespace {

// Adds a row of widgets to a grid, one per column from column 0; null entries leave a gap.
void gridRow(QGridLayout* g, int row, std::initializer_list<QWidget*> widgets) {
    int col = 0;
    for (QWidget* w : widgets) {
        if (w) g->addWidget(w, row, col);
        ++col;
    }
}

QVBoxLayout* vboxOf(QWidget* parent) {
    auto* v = new QVBoxLayout(parent);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(6);
    return v;
}

void buildLinkPages(SetReaderControls& c) {
    c.pcSetReadMain = new PageControl;
    c.pcSetReadMain->setObjectName(QStringLiteral("pcSetReadMain"));
    c.pcSetReadMain->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    c.tsComPort = sheet("tsComPort", QStringLiteral("COM"));
    c.cbxCom = combo("cbxCom", {});
    c.cbxCom->setMinimumContentsLength(8);
    c.cmbBaud = combo("cmbBaud",
                      {QStringLiteral("4800,n,8,1"), QStringLiteral("4800,e,8,1"),
                       QStringLiteral("9600,n,8,1"), QStringLiteral("9600,e,8,1"),
                       QStringLiteral("19200,n,8,1"), QStringLiteral("19200,e,8,1"),
                       QStringLiteral("38400,n,8,1"), QStringLiteral("38400,e,8,1"),
                       QStringLiteral("57600,n,8,1"), QStringLiteral("57600,e,8,1"),
                       QStringLiteral("115200,n,8,1"), QStringLiteral("115200,e,8,1"),
                       QStringLiteral("230400,n,8,1"), QStringLiteral("230400,e,8,1")},
                      10);
    c.cbxTxID_00 = check("cbxTxID_00", QStringLiteral("ID"));
    c.edtTxID_00 = edit("edtTxID_00", QStringLiteral("0000"), 4);
    {
        auto* g = gridOf(c.tsComPort);
        gridRow(g, 0, {label(QStringLiteral("Com Port:")), c.cbxCom, c.cmbBaud});
        gridRow(g, 1, {c.cbxTxID_00, c.edtTxID_00});
        closeGrid(g, 2, 3);
    }

    c.tsTcpServer = sheet("tsTcpServer", QStringLiteral("TCP Server"));
    c.edtTcpServerIP = edit("edtTcpServerIP", QStringLiteral("192.168.1.101"));
    c.edtTcpServerPort = edit("edtTcpServerPort", QStringLiteral("65535"));
    c.cbxTxID_01 = check("cbxTxID_01", QStringLiteral("ID"));
    c.edtTxID_01 = edit("edtTxID_01", QStringLiteral("0000"), 4);
    {
        auto* g = gridOf(c.tsTcpServer);
        gridRow(g, 0,
                {label(QStringLiteral("IP :")), c.edtTcpServerIP, label(QStringLiteral("Port :")),
                 c.edtTcpServerPort});
        gridRow(g, 1, {c.cbxTxID_01, c.edtTxID_01});
        closeGrid(g, 2, 4);
    }

    c.tsTcpClient = sheet("tsTcpClient", QStringLiteral("TCP Client"));
    c.edtLisPort = edit("edtLisPort", QStringLiteral("4001"));
    c.edtTcpClientIP = edit("edtTcpClientIP", QStringLiteral("192.168.1.101"));
    c.cbxTxID_02 = check("cbxTxID_02", QStringLiteral("ID"));
    c.edtTxID_02 = edit("edtTxID_02", QStringLiteral("0001"), 4);
    {
        auto* g = gridOf(c.tsTcpClient);
        gridRow(g, 0, {label(QStringLiteral("Local Listen Port :")), c.edtLisPort});
        gridRow(g, 1, {label(QStringLiteral("Remote IP Address  :")), c.edtTcpClientIP});
        gridRow(g, 2, {c.cbxTxID_02, c.edtTxID_02});
        closeGrid(g, 3, 2);
    }

    c.tsUdpServer = sheet("tsUdpServer", QStringLiteral("UDP"));
    c.edtUdpDesIP = edit("edtUdpDesIP", QStringLiteral("192.168.1.101"));
    c.edUDPDesPort = edit("edUDPDesPort", QStringLiteral("4001"));
    c.edUDPLocPort = edit("edUDPLocPort", QStringLiteral("4001"));
    {
        auto* g = gridOf(c.tsUdpServer);
        gridRow(g, 0, {label(QStringLiteral("IP :")), c.edtUdpDesIP});
        gridRow(g, 1, {label(QStringLiteral("Destination Port :")), c.edUDPDesPort});
        gridRow(g, 2, {label(QStringLiteral("Local Listen Port :")), c.edUDPLocPort});
        closeGrid(g, 3, 2);
    }

    for (TabSheet* ts : {c.tsComPort, c.tsTcpServer, c.tsTcpClient, c.tsUdpServer})
        c.pcSetReadMain->addSheet(ts);
    c.pcSetReadMain->setTabShown(c.tsUdpServer, false);
    c.pcSetReadMain->setActivePage(c.tsComPort);

    c.pnlSetReaderM = panel("pnlSetReaderM");
    auto* holder = new QVBoxLayout(c.pnlSetReaderM);
    holder->setContentsMargins(0, 0, 0, 0);
    holder->addWidget(c.pcSetReadMain);
}

void buildInfoPanel(SetReaderControls& c) {
    c.pnlInfo = panel("pnlInfo");
    c.pnlInfo->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    c.pnReaderTypeName = valuePanel("pnReaderTypeName", {});
    c.pnReaderSn = valuePanel("pnReaderSn", {});
    c.pnReaderId = valuePanel("pnReaderId", {});
    c.pnReaderName = valuePanel("pnReaderName", {});
    c.pnReaderVer = valuePanel("pnReaderVer", {});
    c.btnScanReader = button("btnScanReader", QStringLiteral("Reader Information"));
    c.btnInitial = button("btnInitial", QStringLiteral("Reader Initial"));
    c.btnReset = button("btnReset", QStringLiteral("Reader Reset"));
    c.btnID_GET = button("btnID_GET", QStringLiteral("Get Reader ID"));
    c.btnID_SET = button("btnID_SET", QStringLiteral("Set Reader ID"));
    c.edID = edit("edID", QStringLiteral("0001"), 4);
    c.btnGetVersion = button("btnGetVersion", QStringLiteral("Get Version"));
    c.btnGetSN = button("btnGetSN", QStringLiteral("Get Reader S/N"));
    c.edSN = edit("edSN", {}, 8);
    hide({c.btnGetVersion, c.btnGetSN, c.edSN});

    auto* g = gridOf(c.pnlInfo);
    gridRow(g, 0,
            {label(QStringLiteral("Model："), "lbReaderTypeName"), c.pnReaderTypeName,
             label(QStringLiteral("SN："), "lbReaderSn"), c.pnReaderSn,
             label(QStringLiteral("ID："), "lbReaderId"), c.pnReaderId});
    gridRow(g, 1,
            {label(QStringLiteral("Name："), "lbReaderName"), c.pnReaderName,
             label(QStringLiteral("Ver："), "lbReaderVer"), c.pnReaderVer});
    auto* buttons = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{c.btnScanReader, c.btnInitial, c.btnReset, c.btnID_GET,
                                         c.btnID_SET, c.edID, c.btnGetVersion, c.btnGetSN, c.edSN})
        buttons->addWidget(w);
    buttons->addStretch(1);
    g->addLayout(buttons, 2, 0, 1, 6);
    for (int col : {1, 3, 5}) g->setColumnStretch(col, 1);

    c.pnMsg = panel("pnMsg", QStringLiteral("Select Function"));
    c.pnMsg->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    c.pnMsg->setMinimumSize(220, 40);
    c.pnMsg->setWordWrap(true);
    c.btnExit02 = button("btnExit02", QStringLiteral("Exit"));

    c.edtSend = edit("edtSend", {});
    c.edtRecv1 = edit("edtRecv1", {});
    c.edtRecv2 = edit("edtRecv2", {});
    hide({c.edtSend, c.edtRecv1, c.edtRecv2});
}

void buildAesPages(SetReaderControls& c) {
    c.ts_Aes128 = sheet("ts_Aes128", QStringLiteral("AES128"));
    c.gbAesKey = group("gbAesKey", QStringLiteral("AES-128 KEY SET"));
    c.edAesKey = edit("edAesKey", {}, 32);
    c.edAesKey->setMinimumWidth(c.edAesKey->fontMetrics().horizontalAdvance(QString(34, 'D')));
    QStringList keys;
    for (int i = 1; i <= 8; ++i) keys << QStringLiteral("KEY %1").arg(i);
    c.cmbSelectKey = combo("cmbSelectKey", keys);
    c.btnR_AESKEY = button("btnR_AESKEY", QStringLiteral("SET AES KEY"));
    c.edCCKey = edit("edCCKey", QStringLiteral("7D41A09C3E5B2F86"), 16);
    c.btnR_AESKEY_GET = button("btnR_AESKEY_GET", QStringLiteral("GET"));
    hide({c.edCCKey, c.btnR_AESKEY_GET});
    {
        auto* g = gridOf(c.gbAesKey);
        gridRow(g, 0,
                {label(QStringLiteral("AES KEY:")), c.edAesKey, c.cmbSelectKey, c.btnR_AESKEY,
                 c.btnR_AESKEY_GET});
        gridRow(g, 1, {nullptr, c.edCCKey});
        auto* pg = pageGrid(c.ts_Aes128);
        pg->addWidget(c.gbAesKey, 0, 0);
        closeGrid(pg, 1, 1);
    }

    c.ts_Adminstor = sheet("ts_Adminstor", QStringLiteral("ADMIN"));
    c.gbAdmainKey = group("gbAdmainKey", QStringLiteral("SELECT KEY"));
    QCheckBox** boxes[] = {&c.cbAdmainKey1, &c.cbAdmainKey2, &c.cbAdmainKey3, &c.cbAdmainKey4,
                           &c.cbAdmainKey5, &c.cbAdmainKey6, &c.cbAdmainKey7, &c.cbAdmainKey8};
    auto* g = gridOf(c.gbAdmainKey);
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = "cbAdmainKey" + QByteArray::number(i + 1);
        *boxes[i] = check(name.constData(), QStringLiteral("KEY-%1").arg(i + 1));
        g->addWidget(*boxes[i], i / 4, i % 4);
    }
    c.btAdmainSelectkey = button("btAdmainSelectkey", QStringLiteral("SELECT KEY"));
    c.btAdmainSelectkey_GET = button("btAdmainSelectkey_GET", QStringLiteral("GET"));
    c.edAdmainPin = edit("edAdmainPin", QStringLiteral("7D41A09C3E5B2F86"), 16);
    hide({c.edAdmainPin});
    g->addWidget(c.btAdmainSelectkey, 0, 4);
    g->addWidget(c.btAdmainSelectkey_GET, 1, 4);
    g->addWidget(c.edAdmainPin, 2, 0, 1, 4);
    auto* pg = pageGrid(c.ts_Adminstor);
    pg->addWidget(c.gbAdmainKey, 0, 0);
    closeGrid(pg, 1, 1);
}

void buildGuestPage(SetReaderControls& c) {
    c.ts_Guest = sheet("ts_Guest", QStringLiteral("GUEST"));

    c.gbGuestSendMode = group("gbGuestSendMode", QStringLiteral("TAG SEND MODE"));
    c.cmbGuestSendmode =
        combo("cmbGuestSendmode", {QStringLiteral("STOP SEND"), QStringLiteral("AUTO SEND")});
    c.btnGuestMode_SET = button("btnGuestMode_SET", QStringLiteral("MODE"));
    c.btnGuestMode_GET = button("btnGuestMode_GET", QStringLiteral("GET"));
    gridRow(gridOf(c.gbGuestSendMode), 0,
            {c.cmbGuestSendmode, c.btnGuestMode_SET, c.btnGuestMode_GET});

    c.gbGuestRssi = group("gbGuestRssi", QStringLiteral("RSSI Filter"));
    c.sbGuestRssi = scroll("sbGuestRssi", 0, 255, 0);
    c.pnGuestRssi = valuePanel("pnGuestRssi", QStringLiteral("0"));
    c.btnGuestRssi_SET = button("btnGuestRssi_SET", QStringLiteral("RSSI"));
    c.btnGuestRssi_GET = button("btnGuestRssi_GET", QStringLiteral("GET"));
    gridRow(gridOf(c.gbGuestRssi), 0,
            {c.sbGuestRssi, c.pnGuestRssi, c.btnGuestRssi_SET, c.btnGuestRssi_GET});

    c.gbGuestVer = group("gbGuestVer", QStringLiteral("Version Filter"));
    c.cbGuestVer1 = check("cbGuestVer1", QStringLiteral("TAG VER 1"));
    c.cbGuestVer2 = check("cbGuestVer2", QStringLiteral("TAG VER 2"));
    c.cbGuestVer3 = check("cbGuestVer3", QStringLiteral("TAG VER 3"));
    c.btnGuestVer_SET = button("btnGuestVer_SET", QStringLiteral("VERSION"));
    c.btnGuestVer_GET = button("btnGuestVer_GET", QStringLiteral("GET"));
    gridRow(gridOf(c.gbGuestVer), 0,
            {c.cbGuestVer1, c.cbGuestVer2, c.cbGuestVer3, c.btnGuestVer_SET, c.btnGuestVer_GET});

    c.gbox_ModulePort = group("gbox_ModulePort", QStringLiteral("Module Port "));
    c.cmb_ModulePort01 =
        combo("cmb_ModulePort01", {QStringLiteral("None"), QStringLiteral("Wi-Fi"),
                                   QStringLiteral("Bluetooth"), QStringLiteral("GPRS")});
    c.cmb_ModulePort02 = combo("cmb_ModulePort02", {QStringLiteral("None"), QStringLiteral("Wi-Fi"),
                                                    QStringLiteral("Bluetooth")});
    c.btnModulePort_GET = button("btnModulePort_GET", QStringLiteral("GET"));
    c.btnModulePort_SET = button("btnModulePort_SET", QStringLiteral("SET"));
    {
        auto* g = gridOf(c.gbox_ModulePort);
        gridRow(g, 0,
                {label(QStringLiteral("MD-2：")), c.cmb_ModulePort01,
                 label(QStringLiteral("MD-3：")), c.cmb_ModulePort02, c.btnModulePort_SET,
                 c.btnModulePort_GET});
    }

    c.gbGainLevel = group("gbGainLevel", QStringLiteral("Gain Level"));
    c.sbGainLevel = scroll("sbGainLevel", 1, 13, 13);
    c.pnlGainLevel = valuePanel("pnlGainLevel", QStringLiteral("13"));
    c.butGainLevel_SET = button("butGainLevel_SET", QStringLiteral("Set Gain Level"));
    c.btnGainLevel_GET = button("btnGainLevel_GET", QStringLiteral("GET"));
    gridRow(gridOf(c.gbGainLevel), 0,
            {c.sbGainLevel, c.pnlGainLevel, c.butGainLevel_SET, c.btnGainLevel_GET});

    auto* pg = pageGrid(c.ts_Guest);
    pg->addWidget(c.gbGuestSendMode, 0, 0);
    pg->addWidget(c.gbGuestRssi, 0, 1);
    pg->addWidget(c.gbGuestVer, 1, 0);
    pg->addWidget(c.gbGainLevel, 1, 1);
    pg->addWidget(c.gbox_ModulePort, 2, 0, 1, 2);
    closeGrid(pg, 3, 2);
}

void buildDiDoPage(SetReaderControls& c) {
    c.ts_DiDo = sheet("ts_DiDo", QStringLiteral("DI/DO"));
    c.gbDiState = group("gbDiState", QStringLiteral("DI State"));
    Shape** shapes[] = {&c.ShapeDI1, &c.ShapeDI2, &c.ShapeDI3, &c.ShapeDI4};
    auto* g = gridOf(c.gbDiState);
    for (int i = 0; i < 4; ++i) {
        auto* s = new Shape;
        s->setObjectName(QStringLiteral("ShapeDI%1").arg(i + 1));
        *shapes[i] = s;
        g->addWidget(s, 0, i, Qt::AlignHCenter);
        const QByteArray name = "lbDI" + QByteArray::number(i + 1);
        g->addWidget(label(QStringLiteral("DI%1").arg(i + 1), name.constData()), 1, i,
                     Qt::AlignHCenter);
    }
    c.BitBtn2 = button("BitBtn2", QStringLiteral("Get DI State"));
    g->addWidget(c.BitBtn2, 0, 4, 2, 1);

    c.gbDoState = group("gbDoState", QStringLiteral("Relay"));
    c.cbxDO01 = check("cbxDO01", QStringLiteral("DO1"));
    c.cbxDO02 = check("cbxDO02", QStringLiteral("DO2"));
    c.btnSet_Relay = button("btnSet_Relay", QStringLiteral("Set Relay ON/OFF"));
    c.btnGet_Relay = button("btnGet_Relay", QStringLiteral("Get Relay ON/OFF"));
    auto* d = gridOf(c.gbDoState);
    gridRow(d, 0, {c.cbxDO01, c.cbxDO02, c.btnSet_Relay, c.btnGet_Relay});

    auto* pg = pageGrid(c.ts_DiDo);
    pg->addWidget(c.gbDiState, 0, 0);
    pg->addWidget(c.gbDoState, 1, 0);
    closeGrid(pg, 2, 1);
}

void buildParameterPage(SetReaderControls& c) {
    c.ts_parameter = sheet("ts_parameter", QStringLiteral("Parameters"));
    c.btnParameters_Get = button("btnParameters_Get", QStringLiteral("GET"));
    c.btnParameters_Set = button("btnParameters_Set", QStringLiteral("SET"));
    c.Button1 = button("Button1", QStringLiteral("TAG Database"));

    c.pnl_parameters = panel("pnl_parameters");
    c.cmbParameter_outputmode =
        combo("cmbParameter_outputmode",
              {QStringLiteral("0、output , not record"), QStringLiteral("1、output & record"),
               QStringLiteral("2、record , not output")});
    c.cmbParameter_logtype = combo("cmbParameter_logtype", {QStringLiteral("0、Normal tag"),
                                                            QStringLiteral("1、Normal tag + GPS")});
    c.edtParameter_gpsperiod = edit("edtParameter_gpsperiod", QStringLiteral("3"));
    c.edtParameter_forcerecordtime = edit("edtParameter_forcerecordtime", QStringLiteral("30"));
    c.edtParameter_tagexittimeout = edit("edtParameter_tagexittimeout", QStringLiteral("30"));
    c.cmbParameter_logfiltermode =
        combo("cmbParameter_logfiltermode",
              {QStringLiteral("0、none"), QStringLiteral("1、filter (by tag database)")});
    for (QLineEdit* e :
         {c.edtParameter_gpsperiod, c.edtParameter_forcerecordtime, c.edtParameter_tagexittimeout})
        e->setMaximumWidth(90);

    c.gbParameter_outputport = group("gbParameter_outputport", QStringLiteral("Output Port"));
    QCheckBox** ports[] = {&c.cbxparameter_outputport01, &c.cbxparameter_outputport02,
                           &c.cbxparameter_outputport03, &c.cbxparameter_outputport04,
                           &c.cbxparameter_outputport05, &c.cbxparameter_outputport06,
                           &c.cbxparameter_outputport07};
    const char* portCaptions[] = {"Bluetooth", "GPRS", "NET", "USB", "Wi-Fi", "RS232", "RS485"};
    auto* og = gridOf(c.gbParameter_outputport);
    for (int i = 0; i < 7; ++i) {
        const QByteArray name = "cbxparameter_outputport0" + QByteArray::number(i + 1);
        *ports[i] = check(name.constData(), QLatin1String(portCaptions[i]));
        og->addWidget(*ports[i], i / 4, i % 4);
    }

    c.gbParameter_recordmode = group("gbParameter_recordmode", QStringLiteral("Record Mode"));
    c.cbxparameter_recordmode01 =
        check("cbxparameter_recordmode01", QStringLiteral("New TAG Entry"));
    c.cbxparameter_recordmode02 = check("cbxparameter_recordmode02", QStringLiteral("TAG Timeout"));
    c.cbxparameter_recordmode03 =
        check("cbxparameter_recordmode03", QStringLiteral("Interval record"));
    gridRow(
        gridOf(c.gbParameter_recordmode), 0,
        {c.cbxparameter_recordmode01, c.cbxparameter_recordmode02, c.cbxparameter_recordmode03});

    c.cbxAlivePacket = check("cbxAlivePacket", QStringLiteral("Alive packet"));
    c.edtheartbeattime = edit("edtheartbeattime", QStringLiteral("65536"));
    c.edtheartbeattime->setMaximumWidth(90);
    c.cbxzigbeedataloss = check("cbxzigbeedataloss", QStringLiteral("ZigBee data loss alarm"));
    {
        auto* g = gridOf(c.pnl_parameters);
        gridRow(g, 0, {label(QStringLiteral("Output Mode：")), c.cmbParameter_outputmode});
        gridRow(g, 1, {label(QStringLiteral("Data Type：")), c.cmbParameter_logtype});
        gridRow(g, 2,
                {label(QStringLiteral("GPS Period：")), c.edtParameter_gpsperiod,
                 label(QStringLiteral("sec"))});
        gridRow(g, 3,
                {label(QStringLiteral("TAG record interval：")), c.edtParameter_forcerecordtime,
                 label(QStringLiteral("sec"))});
        gridRow(g, 4,
                {label(QStringLiteral("TAG timeout：")), c.edtParameter_tagexittimeout,
                 label(QStringLiteral("sec"))});
        gridRow(g, 5, {label(QStringLiteral("Filter Mode：")), c.cmbParameter_logfiltermode});
        g->addWidget(c.gbParameter_outputport, 0, 3, 2, 3);
        g->addWidget(c.gbParameter_recordmode, 2, 3, 2, 3);
        g->addWidget(c.cbxAlivePacket, 4, 3);
        g->addWidget(c.edtheartbeattime, 4, 4);
        g->addWidget(c.cbxzigbeedataloss, 5, 3, 1, 2);
        g->setColumnStretch(5, 1);
        g->setRowStretch(6, 1);
    }

    c.pnlparameters_TagDB = panel("pnlparameters_TagDB");
    c.edt_settagno = edit("edt_settagno", QStringLiteral("1"));
    c.edt_settaguid = edit("edt_settaguid", QStringLiteral("0001000112345678"), 16);
    c.btn_settagdata = button("btn_settagdata", QStringLiteral("Set TAG data"));
    c.edt_gettagno1 = edit("edt_gettagno1", QStringLiteral("1"));
    c.edt_gettagno2 = edit("edt_gettagno2", QStringLiteral("500"));
    c.btn_gettagdata = button("btn_gettagdata", QStringLiteral("Get TAG data"));
    c.edt_deltagno = edit("edt_deltagno", QStringLiteral("1"));
    c.btn_deltagdata = button("btn_deltagdata", QStringLiteral("Delete TAG data"));
    c.btn_delalltagdata = button("btn_delalltagdata", QStringLiteral("Delete all TAG data"));
    c.mem_tagdatabase = new Memo;
    c.mem_tagdatabase->setObjectName(QStringLiteral("mem_tagdatabase"));
    for (QLineEdit* e : {c.edt_settagno, c.edt_gettagno1, c.edt_gettagno2, c.edt_deltagno})
        e->setMaximumWidth(70);
    {
        auto* g = gridOf(c.pnlparameters_TagDB);
        gridRow(g, 0,
                {label(QStringLiteral("No.")), c.edt_settagno, label(QStringLiteral("UID")),
                 c.edt_settaguid, c.btn_settagdata});
        gridRow(g, 1,
                {label(QStringLiteral("From")), c.edt_gettagno1, label(QStringLiteral("To")),
                 c.edt_gettagno2, c.btn_gettagdata});
        gridRow(g, 2,
                {label(QStringLiteral("No.")), c.edt_deltagno, nullptr, nullptr, c.btn_deltagdata});
        g->addWidget(c.btn_delalltagdata, 3, 4);
        g->addWidget(c.mem_tagdatabase, 0, 5, 5, 1);
        g->setColumnStretch(5, 1);
        g->setRowStretch(4, 1);
    }
    c.pnlparameters_TagLog = panel("pnlparameters_TagLog");
    c.pnlparameters_TagLog->setFixedHeight(0);
    hide({c.pnlparameters_TagDB, c.pnlparameters_TagLog});

    auto* v = vboxOf(c.ts_parameter);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.btnParameters_Get);
    buttons->addWidget(c.btnParameters_Set);
    buttons->addWidget(c.Button1);
    buttons->addStretch(1);
    v->addLayout(buttons);
    v->addWidget(c.pnlparameters_TagLog);
    v->addWidget(c.pnl_parameters, 1);
    v->addWidget(c.pnlparameters_TagDB, 1);
}

void buildZigbeePage(SetReaderControls& c) {
    c.ts_ZigBee = sheet("ts_ZigBee", QStringLiteral("ZigBee Set"));
    c.gbZigbeeGroupId = group("gbZigbeeGroupId", QStringLiteral("Group ID"));
    c.edt_ZBGID = edit("edt_ZBGID", QStringLiteral("0001"));
    c.edt_ZBGID->setMaximumWidth(90);
    c.btnGet_ZBGID = button("btnGet_ZBGID", QStringLiteral("GET"));
    c.btnSet_ZBGID = button("btnSet_ZBGID", QStringLiteral("SET"));
    gridRow(gridOf(c.gbZigbeeGroupId), 0, {c.edt_ZBGID, c.btnGet_ZBGID, c.btnSet_ZBGID});

    c.gbZigbeeMode = group("gbZigbeeMode", QStringLiteral("Mode"));
    c.cmbZibeeMODE =
        combo("cmbZibeeMODE", {QStringLiteral("Coordinator "), QStringLiteral("Router ")});
    c.btnGet_ZigbeeMODE = button("btnGet_ZigbeeMODE", QStringLiteral("GET"));
    c.btnSet_ZigbeeMODE = button("btnSet_ZigbeeMODE", QStringLiteral("SET"));
    gridRow(gridOf(c.gbZigbeeMode), 0, {c.cmbZibeeMODE, c.btnGet_ZigbeeMODE, c.btnSet_ZigbeeMODE});

    auto* pg = pageGrid(c.ts_ZigBee);
    pg->addWidget(c.gbZigbeeGroupId, 0, 0);
    pg->addWidget(c.gbZigbeeMode, 0, 1);
    closeGrid(pg, 1, 2);
}

void buildBtExciterPage(SetReaderControls& c) {
    c.ts_BtE = sheet("ts_BtE", QStringLiteral("BT-Exciter"));

    c.gbBtPowerMode = group("gbBtPowerMode", QStringLiteral("PowerMode"));
    c.cbxBtAutoPd = check("cbxBtAutoPd", QStringLiteral("Reader Auto Off"));
    c.cbxBtKeyPd = check("cbxBtKeyPd", QStringLiteral("Press Key Auto Off"));
    c.sbPoweOffTime = scroll("sbPoweOffTime", 30, 7200, 30);
    c.pnBtPowerOffTime = valuePanel("pnBtPowerOffTime", QStringLiteral("30 Sec"));
    {
        auto* g = gridOf(c.gbBtPowerMode);
        gridRow(g, 0, {c.cbxBtAutoPd, c.cbxBtKeyPd});
        gridRow(g, 1,
                {label(QStringLiteral("Power Off Time:")), c.sbPoweOffTime, c.pnBtPowerOffTime});
    }

    c.gbBtReaderMode = group("gbBtReaderMode", QStringLiteral("ReaderMode"));
    c.cmbBTReaderMode =
        combo("cmbBTReaderMode", {QStringLiteral("Exciter Detect"), QStringLiteral("Normal Reader"),
                                  QStringLiteral("Exciter Only")});
    c.sbBtExciteCnt = scroll("sbBtExciteCnt", 1, 30, 1);
    c.pnBtExciteCnt = valuePanel("pnBtExciteCnt", QStringLiteral("1"));
    c.sbBtExciteDly = scroll("sbBtExciteDly", 0, 100, 0);
    c.pnBtExciteDly = valuePanel("pnBtExciteDly", QStringLiteral("0"));
    {
        auto* g = gridOf(c.gbBtReaderMode);
        g->addWidget(c.cmbBTReaderMode, 0, 0, 1, 2);
        gridRow(g, 1, {label(QStringLiteral("Send Times:")), c.sbBtExciteCnt, c.pnBtExciteCnt});
        gridRow(g, 2,
                {label(QStringLiteral("Send Delay:")), c.sbBtExciteDly, c.pnBtExciteDly,
                 label(QStringLiteral("X 10 ms"))});
    }
    c.btGetBtPowerMode = button("btGetBtPowerMode", QStringLiteral("Get Parameters"));
    c.btSetBtPowerMode = button("btSetBtPowerMode", QStringLiteral("Set Parameters"));

    c.gbBtExciterId = group("gbBtExciterId", QStringLiteral("Exciter"));
    c.edExciterID = edit("edExciterID", QStringLiteral("0001"), 4);
    c.edExciterID->setMaximumWidth(90);
    c.btExciterIDSet = button("btExciterIDSet", QStringLiteral("Set Exciter ID"));
    c.btGetBtBattery = button("btGetBtBattery", QStringLiteral("Get Battery Level"));
    c.pnlBtBattery_NOWLV = valuePanel("pnlBtBattery_NOWLV", {});
    c.btnFactoryInit = button("btnFactoryInit", QStringLiteral("Parameter Initial"));
    {
        auto* g = gridOf(c.gbBtExciterId);
        gridRow(g, 0, {label(QStringLiteral("Exciter ID:")), c.edExciterID, c.btExciterIDSet});
        gridRow(g, 1, {nullptr, c.pnlBtBattery_NOWLV, c.btGetBtBattery});
        g->addWidget(c.btnFactoryInit, 2, 2);
    }

    c.gbBtBattery = group("gbBtBattery", QStringLiteral("Battery"));
    c.sbBtBatteryLV = scroll("sbBtBatteryLV", 0, 50, 20);
    c.pnlBtBatteryLV = valuePanel("pnlBtBatteryLV", QStringLiteral("20 %"));
    gridRow(gridOf(c.gbBtBattery), 0,
            {label(QStringLiteral("Auto OFF battery level :")), c.sbBtBatteryLV, c.pnlBtBatteryLV});

    auto* pg = pageGrid(c.ts_BtE);
    pg->addWidget(c.gbBtPowerMode, 0, 0);
    pg->addWidget(c.gbBtReaderMode, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.btGetBtPowerMode);
    buttons->addWidget(c.btSetBtPowerMode);
    buttons->addStretch(1);
    pg->addLayout(buttons, 1, 0, 1, 2);
    pg->addWidget(c.gbBtBattery, 2, 0);
    pg->addWidget(c.gbBtExciterId, 2, 1);
    closeGrid(pg, 3, 2);
}

void buildExciterPage(SetReaderControls& c) {
    c.ts_KR310E1 = sheet("ts_KR310E1", QStringLiteral("KR310-E1"));
    c.gbExciter = group("gbExciter", QStringLiteral("Exciter"));
    c.sbExciterID = scroll("sbExciterID", 1, 65535, 30);
    c.pnExciterID = valuePanel("pnExciterID", QStringLiteral("0001"));
    c.sbExciterDelay = scroll("sbExciterDelay", 10, 250, 30);
    c.pnExciterDelay = valuePanel("pnExciterDelay", QStringLiteral("300"));
    c.chkExciterEn = check("chkExciterEn", QStringLiteral("Enabled"));
    c.btnSetExciter = button("btnSetExciter", QStringLiteral("Set Exciter"));
    auto* g = gridOf(c.gbExciter);
    gridRow(g, 0,
            {label(QStringLiteral("Exciter ID :")), c.sbExciterID, c.pnExciterID,
             label(QStringLiteral("Hex"))});
    gridRow(g, 1,
            {label(QStringLiteral("Delay :")), c.sbExciterDelay, c.pnExciterDelay,
             label(QStringLiteral("ms"))});
    gridRow(g, 2, {nullptr, c.chkExciterEn, c.btnSetExciter});
    auto* pg = pageGrid(c.ts_KR310E1);
    pg->addWidget(c.gbExciter, 0, 0);
    closeGrid(pg, 1, 1);
}

void buildRelayPanel(SetReaderControls& c) {
    c.pnlRelay = panel("pnlRelay");
    c.cmbBaudRate = combo("cmbBaudRate",
                          {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200")},
                          4);
    c.btnSetBaudrate = button("btnSetBaudrate", QStringLiteral("Set Baudrate"));
    c.cmbAutoSend =
        combo("cmbAutoSend", {QStringLiteral("Mode #0 NONE"), QStringLiteral("Mode #1 BCC"),
                              QStringLiteral("Mode #2 ID"), QStringLiteral("Mode #3 ASCII"),
                              QStringLiteral("Mode #4 OFF")});
    c.btnSetAutoSend = button("btnSetAutoSend", QStringLiteral("Set Auto Send"));
    c.cmbNet = combo("cmbNet", {QStringLiteral("ALL"), QStringLiteral("NET"),
                                QStringLiteral("RS232"), QStringLiteral("RS485")});
    c.btnSetNetPort = button("btnSetNetPort", QStringLiteral("Set Net Port"));
    c.sbRssiLevel = scroll("sbRssiLevel", 0, 255, 0);
    c.pnRssiLevel = valuePanel("pnRssiLevel", QStringLiteral("0"));
    c.btnSetRssiLevel = button("btnSetRssiLevel", QStringLiteral("Set RSSI Level"));
    c.sbRelayTime = scroll("sbRelayTime", 1, 255, 1);
    c.pnRelayTime = valuePanel("pnRelayTime", QStringLiteral("1"));
    c.btnSetRelayTime = button("btnSetRelayTime", QStringLiteral("Set Relay Time"));
    c.sbGain = scroll("sbGain", 1, 13, 13);
    c.pnGain = valuePanel("pnGain", QStringLiteral("13"));
    c.btnSetGain = button("btnSetGain", QStringLiteral("Set Gain Level"));
    auto* g = gridOf(c.pnlRelay);
    gridRow(g, 0, {c.cmbBaudRate, nullptr, c.btnSetBaudrate});
    gridRow(g, 1, {c.cmbAutoSend, nullptr, c.btnSetAutoSend});
    gridRow(g, 2, {c.cmbNet, nullptr, c.btnSetNetPort});
    gridRow(g, 3, {c.sbRssiLevel, c.pnRssiLevel, c.btnSetRssiLevel});
    gridRow(g, 4, {c.sbRelayTime, c.pnRelayTime, c.btnSetRelayTime});
    gridRow(g, 5, {c.sbGain, c.pnGain, c.btnSetGain});
    hide({c.pnlRelay});
}

} // namespace

void buildSetReaderPage(SetReaderControls& c, TabSheet* page) {
    buildLinkPages(c);
    buildInfoPanel(c);

    c.pcSetRead = new PageControl;
    c.pcSetRead->setObjectName(QStringLiteral("pcSetRead"));
    buildAesPages(c);
    buildGuestPage(c);
    buildDiDoPage(c);
    buildParameterPage(c);
    buildZigbeePage(c);
    buildBtExciterPage(c);
    buildExciterPage(c);
    for (TabSheet* ts : {c.ts_Aes128, c.ts_Adminstor, c.ts_Guest, c.ts_DiDo, c.ts_parameter,
                         c.ts_ZigBee, c.ts_BtE, c.ts_KR310E1})
        c.pcSetRead->addSheet(ts);
    c.pcSetRead->setActivePage(c.ts_Guest);
    buildRelayPanel(c);

    // Top strip: link choice, reader identity, status and exit; the settings pages below.
    auto* side = new QVBoxLayout;
    side->addWidget(c.pnMsg, 1);
    side->addWidget(c.btnExit02);
    for (QWidget* w : {static_cast<QWidget*>(c.edtSend), static_cast<QWidget*>(c.edtRecv1),
                       static_cast<QWidget*>(c.edtRecv2)})
        side->addWidget(w);

    auto* top = new QHBoxLayout;
    top->addWidget(c.pnlSetReaderM, 0, Qt::AlignTop);
    top->addWidget(c.pnlInfo, 1);
    top->addLayout(side);

    auto* v = vboxOf(page);
    v->addLayout(top);
    v->addWidget(c.pcSetRead, 1);
    v->addWidget(c.pnlRelay);
}

} // namespace kelta
