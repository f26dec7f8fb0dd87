#pragma once
// The handlers of the "Set TAG" page (V3 and V1 tag commands and the value texts of their
// scroll bars) and of the exciter page ts_KR310E1: each reads its controls, encodes the
// command from the catalogue, runs the tag executor and writes the result back.

#include "tag/proto/commands/v1_settings.h"
#include "tag/proto/commands/v3_settings.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

class QScrollBar;
class QLineEdit;

namespace kelta {

class TfrmModule;
namespace reader {
class ReaderLink;
}
namespace tag {
class TagExchange;
}

class SetTagPage : public QObject {
    Q_OBJECT
public:
    SetTagPage(TfrmModule& window, reader::ReaderLink& link);
    ~SetTagPage() override;

    tag::TagExchange& exchange() { return *exchange_; }

    // V3 writes.
    void btTagActivTimeV3_SETClick();
    void btTagActivCountV3_SETClick();
    void btTagReceiveCountV3_SETClick();
    void btnGSensor00_SETClick();
    void btnGSensor01_SETClick();
    void btnGSensor02_SETClick();
    void btnGSensor03_SETClick();
    void btnGSensor04_SETClick();
    void btnGSensor05_SETClick();
    void btTagBeepV3_SETClick();
    void btTagLedRV3_SETClick();
    void btTagLedGV3_SETClick();
    void btTagAdmainUidClick();
    void btIdModeSetClick();
    void btAesModeSetClick();
    void btTagSelectKeyClick();
    void btSetKeyClick();
    // V3 reads.
    void btTagActivTimeV3_GETClick();
    void btTagActivCountV3_GETClick();
    void btTagReceiveCountV3_GETClick();
    void btnGSensor00_GETClick();
    void btnGSensor01_GETClick();
    void btnGSensor02_GETClick();
    void btnGSensor03_GETClick();
    void btnGSensor04_GETClick();
    void btnGSensor05_GETClick();
    void butTagVer_GETClick();
    // V3 value texts.
    void sbTagGuestActiveModeChange();
    void sbTagGuestActiveCntChange();
    void sbTagGuestReceiveCntChange();
    void sbTag_GSensor00Change();
    void sbTag_GSensor01Change();
    void sbTag_GSensor02Change();
    void sbTag_GSensor03Change();
    void sbTag_GSensor04Change();
    void sbTag_GSensor05Change();
    void sbTagBeepChange();
    void sbTagLedRChange();
    void sbTagLedGChange();

    // V1.
    void btV1TagActModeClick();
    void btV1TagActModeGetClick();
    void btV1TagActCntClick();
    void btV1TagActCntGetClick();
    void btV1TagReceiverClick();
    void btV1TagReceiverGetClick();
    void btV1TagBeepClick();
    void btV1TagLedRClick();
    void btV1TagLedGClick();
    void sbV1TagActModeChange();
    void sbV1TagActCntChange();
    void sbV1TagReceiverChange();
    void sbV1TagBeepChange();
    void sbV1TagLedRChange();
    void sbV1TagLedGChange();

    // Exciter page.
    void btnSetExciterClick();
    void sbExciterIDChange();
    void sbExciterDelayChange();

private:
    void connectControls();
    tag::v3::Target target(const std::string& tagId, const std::string& pin) const;
    void writeSetting(tag::v3::Setting s, const QScrollBar* bar);
    void readSetting(tag::v3::Setting s, QScrollBar* bar, void (SetTagPage::*redraw)());
    void writeAdmin(const std::function<tag::v3::Encoded(const tag::v3::Target&)>& encode,
                    QLineEdit* pinEdit);
    void runWrite(const tag::v3::Encoded& payload);
    void runV1(tag::v1::Command c, const QScrollBar* bar);
    bool refuse(const tag::v3::Encoded& payload);

    QPointer<TfrmModule> w_;
    std::unique_ptr<tag::TagExchange> exchange_;
};

} // namespace kelta
