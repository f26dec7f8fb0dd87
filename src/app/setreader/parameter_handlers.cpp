// The parameter blocks of the LR900 family and the reader's tag database.

#include "app/frmmodule.h"
#include "app/setreader/control_bits.h"
#include "app/setreader/reader_session.h"
#include "app/setreader/set_reader_handlers.h"
#include "reader/proto/commands/parameters.h"
#include "reader/proto/commands/tag_database.h"

namespace kelta {

namespace {

using namespace reader::cmd;

std::array<QCheckBox*, 7> outputPortBoxes(TfrmModule& w) {
    return {w.cbxparameter_outputport01, w.cbxparameter_outputport02, w.cbxparameter_outputport03,
            w.cbxparameter_outputport04, w.cbxparameter_outputport05, w.cbxparameter_outputport06,
            w.cbxparameter_outputport07};
}

std::array<QCheckBox*, 3> recordModeBoxes(TfrmModule& w) {
    return {w.cbxparameter_recordmode01, w.cbxparameter_recordmode02, w.cbxparameter_recordmode03};
}

std::uint8_t itemOf(const QComboBox* list) {
    return static_cast<std::uint8_t>(std::max(0, list->currentIndex()));
}

void showOutputParameters(TfrmModule& w, const OutputParameters& p) {
    selectItemOrNone(w.cmbParameter_outputmode, p.outputMode);
    checkByMask(outputPortBoxes(w), p.outputPorts);
    selectItemOrNone(w.cmbParameter_logtype, p.logType);
    w.edtParameter_gpsperiod->setText(QString::number(p.gpsPeriod));
    checkByMask(recordModeBoxes(w), p.recordModes);
    w.cbxAlivePacket->setChecked(p.heartbeat >= 1);
    w.edtheartbeattime->setText(QString::number(p.heartbeat));
    w.cbxzigbeedataloss->setChecked(p.zigbeeDataLoss);
}

// The heartbeat to send: the edit's number (low 16 bits) when alive packets are on and it is
// above 0; otherwise alive packets are switched off and 0 is sent.
std::uint16_t heartbeatOf(TfrmModule& w) {
    const long long n = decimalOf(w.edtheartbeattime, 0);
    if (w.cbxAlivePacket->isChecked() && n > 0) return static_cast<std::uint16_t>(n & 0xFFFF);
    w.cbxAlivePacket->setChecked(false);
    w.edtheartbeattime->setText(QStringLiteral("0"));
    return 0;
}

OutputParameters outputParametersOf(TfrmModule& w) {
    OutputParameters p;
    p.outputMode = itemOf(w.cmbParameter_outputmode);
    p.outputPorts = maskOf(outputPortBoxes(w));
    p.logType = itemOf(w.cmbParameter_logtype);
    p.gpsPeriod = static_cast<std::uint8_t>(decimalOf(w.edtParameter_gpsperiod, 0) & 0xFF);
    p.recordModes = maskOf(recordModeBoxes(w));
    p.heartbeat = heartbeatOf(w);
    p.zigbeeDataLoss = w.cbxzigbeedataloss->isChecked();
    return p;
}

std::uint16_t secondsOf(const QLineEdit* e) {
    return static_cast<std::uint16_t>(decimalOf(e, 0) & 0xFFFF);
}

std::uint32_t recordOf(const QLineEdit* e) {
    return static_cast<std::uint32_t>(decimalOf(e, 0));
}

} // namespace

void SetReaderHandlers::showParameterPanel() {
    w_.pnlparameters_TagDB->setVisible(false);
    w_.pnlparameters_TagLog->setFixedHeight(0);
    w_.pnlparameters_TagLog->setVisible(false);
    w_.pnl_parameters->setVisible(true);
}

void SetReaderHandlers::btnParameters_GetClick() {
    ReaderSession s(*this);
    if (!s) return;
    showParameterPanel();
    bool failed = false;
    for (const std::uint16_t code : kParameterCodes) {
        w_.pnlMain->setEnabled(false);
        const auto a = s.exec(code);
        if (!s) return;
        if (!a || a->size() < kParameterAnswerMin) {
            failed = true;
            continue;
        }
        switch (code) {
        case kParamOutput:
            showOutputParameters(w_, *DecodeOutputParameters(*a));
            break;
        case kParamRecordTime:
            w_.edtParameter_forcerecordtime->setText(QString::number(*DecodeSeconds(*a)));
            break;
        case kParamExitTimeout:
            w_.edtParameter_tagexittimeout->setText(QString::number(*DecodeSeconds(*a)));
            break;
        case kParamLogFilter:
            selectItemOrNone(w_.cmbParameter_logfiltermode, *DecodeLogFilter(*a));
            break;
        }
    }
    if (failed) s.error();
    w_.btnParameters_Set->setEnabled(true);
}

void SetReaderHandlers::btnParameters_SetClick() {
    ReaderSession s(*this);
    if (!s) return;
    showParameterPanel();
    const Bytes payloads[] = {EncodeOutputParameters(outputParametersOf(w_)),
                              EncodeSeconds(secondsOf(w_.edtParameter_forcerecordtime)),
                              EncodeSeconds(secondsOf(w_.edtParameter_tagexittimeout)),
                              EncodeLogFilter(itemOf(w_.cmbParameter_logfiltermode))};
    bool failed = false;
    for (std::size_t i = 0; i < kParameterCodes.size(); ++i) {
        const auto a = s.exec(kParameterCodes[i], payloads[i]);
        if (!s) return;
        // A write that never reached the reader is as much an error as an empty answer.
        if (!a || a->empty()) failed = true;
    }
    if (failed) s.error();
    w_.btnParameters_Set->setEnabled(true);
}

void SetReaderHandlers::ts_parameterShow() {
    w_.mem_tagdatabase->clearLines();
    showParameterPanel();
    w_.pnlparameters_TagDB->setFrameShadow(QFrame::Plain);
    w_.pnlparameters_TagDB->setFrameShape(QFrame::NoFrame);
    if (tagOf(w_.btnScanReader) == 1) btnParameters_GetClick();
}

void SetReaderHandlers::Button1Click() {
    w_.pnl_parameters->setVisible(false);
    w_.pnlparameters_TagLog->setFixedHeight(0);
    w_.pnlparameters_TagLog->setVisible(false);
    w_.pnlparameters_TagDB->setVisible(true);
    w_.btnParameters_Set->setEnabled(false);
}

void SetReaderHandlers::btn_settagdataClick() {
    ReaderSession s(*this);
    if (!s) return;
    const QByteArray uid = w_.edt_settaguid->text().toLatin1();
    if (!s.exec(kTagDbWrite, EncodeTagDbWrite(recordOf(w_.edt_settagno), uid.toStdString())))
        s.error();
}

void SetReaderHandlers::btn_gettagdataClick() {
    ReaderSession s(*this);
    if (!s) return;
    w_.mem_tagdatabase->clearLines();
    const long long from = decimalOf(w_.edt_gettagno1, 1);
    const long long to = decimalOf(w_.edt_gettagno2, 1);
    const BlockRange blocks = TagDbBlocks(from, to);
    const auto progress = s.progress(std::max(0LL, blocks.last - blocks.first + 1));
    if (!progress) return s.error(); // no link to read through
    int emptyAnswers = 0;
    bool failed = false;
    for (long long b = blocks.first; b <= blocks.last && emptyAnswers < 2; ++b) {
        // A cancel is taken between blocks: the block asked for last has been read whole.
        if (!progress->step(
                b - blocks.first + 1,
                tr("TAG database block %1 of %2").arg(b - blocks.first + 1).arg(progress->total())))
            return s.cancelled();
        const auto a = s.exec(kTagDbRead, EncodeTagDbRead(b));
        if (!s) return;
        if (!a) {
            if (progress->cancelled()) return s.cancelled();
            failed = true; // the block is skipped
            continue;
        }
        if (a->empty()) {
            ++emptyAnswers;
            continue;
        }
        emptyAnswers = 0;
        for (const TagDbRecord& r : DecodeTagDbBlock(*a))
            if (r.number >= from && r.number <= to)
                w_.mem_tagdatabase->addLine(QString::fromStdString(TagDbLine(r)));
    }
    // Two empty answers end the reading early: the reader holds no more.
    progress->finish(tr("Done"));
    if (failed) s.error();
}

void SetReaderHandlers::deleteTagRecord(std::uint32_t record) {
    ReaderSession s(*this);
    if (!s) return;
    if (!s.exec(kTagDbDelete, EncodeTagDbDelete(record))) s.error();
}

void SetReaderHandlers::btn_deltagdataClick() {
    deleteTagRecord(recordOf(w_.edt_deltagno));
}

void SetReaderHandlers::btn_delalltagdataClick() {
    deleteTagRecord(kTagDbAllRecords);
}

} // namespace kelta
