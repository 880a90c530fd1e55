/* The simulated receiver's behaviour, written once for the virtual HID device (a kernel
 * minidriver in C) and for the in-process simulator the unit tests use: the report protocol,
 * the faults it shows on request, the answers it owes and the output reports it has received.
 * Freestanding C: the driver has no runtime library. The caller serialises access. */
#ifndef WAVELARK_RECEIVER_CORE_H
#define WAVELARK_RECEIVER_CORE_H

#ifdef __cplusplus
extern "C"
{
#endif

    typedef unsigned char RcByte;

    enum
    {
        kRcVendorId = 0x077D,
        kRcProductId = 0x627A,
        kRcVersion = 0x0100,
        /* An input or output report: report id 0, then six data bytes. */
        kRcReportBytes = 7,
        kRcDataBytes = 6,
        kRcOversizeReportBytes = 300,
        kRcTuneCommand = 0xC0,
        kRcQueryCommand = 0x80,
        kRcBandFm = 0x02,
        kRcBandAm = 0x12,
        /* The vendor feature report (the player never uses it): report id 0, then these bytes. */
        kRcFeatureDataBytes = 27,
        kRcFeatureReportBytes = kRcFeatureDataBytes + 1,
        /* Answers owed and received reports kept; older ones are dropped first. */
        kRcAnswersKept = 16,
        kRcLogKept = 1024,
    };

    typedef enum RcFault
    {
        kRcFaultNone,
        kRcFaultSilent,      /* never answers a query */
        kRcFaultWriteFails,  /* every write fails */
        kRcFaultReadFails,   /* every read fails at once, as on a device that is gone */
        kRcFaultUnplugAfter, /* gone after `faultValue` answered queries: writes fail, nothing answers */
        kRcFaultStatus,      /* answers with status byte `faultValue` */
        kRcFaultBand,        /* answers with band byte `faultValue` */
        kRcFaultNoReceiver,  /* presents no HID interface at all */
        kRcFaultOversize,    /* report lengths of 300 bytes */
        kRcFaultCount
    } RcFault;

    /* The feature report's requests, its first data byte when set:
     *   kRcSetState   fault, fault value (2 bytes, high first), band, code (2 bytes), and optionally
     *                 1 when its audio input is to ignore buffer suggestions: a fresh start, with
     *                 no answers owed and an empty log;
     *   kRcSelectLog  index (4 bytes, high first): the received report the next reads carry.
     * Read, its data bytes are: band, code (2), fault, fault value (2), 1 when it answers queries,
     * the count of reports received (4), 1 when the selected report is kept, its six data bytes,
     * when it arrived (8 bytes, high first, in 100 ns units of the performance counter's clock),
     * and 1 when the audio input ignores buffer suggestions. */
    enum
    {
        kRcSetState = 1,
        kRcSelectLog = 2,
        kRcGetAnswering = 6,
        kRcGetReceived = 7,
        kRcGetSelectedKept = 11,
        kRcGetSelected = 12,
        kRcGetSelectedStamp = 18,
        kRcGetPlainAudio = 26,
    };

    typedef struct ReceiverCore
    {
        RcByte band;
        unsigned short code;
        RcFault fault;
        unsigned short faultValue;
        unsigned answered; /* queries answered since the start */
        RcByte answers[kRcAnswersKept][kRcDataBytes];
        unsigned answersHead, answersOwed;
        RcByte log[kRcLogKept][kRcDataBytes];
        unsigned long long logStamps[kRcLogKept];
        unsigned long received; /* output reports received since the start */
        unsigned long selected;
        RcByte plainAudio; /* its audio input ignores buffer suggestions, as an input without them */
    } ReceiverCore;

    /* A fresh start tuned to `band` and `code`, showing `fault`. */
    void RcStart(ReceiverCore* core, RcByte band, unsigned short code, RcFault fault, unsigned short faultValue);

    /* An output report's data bytes (after its report id) arrive at `stamp` (kept in the log).
     * Returns 0 when the write fails. A tune command retunes; a query owes an answer when the
     * receiver answers. */
    int RcReceive(ReceiverCore* core, const RcByte* data, unsigned length, unsigned long long stamp);

    /* Takes the oldest answer owed into `data` (kRcDataBytes bytes); 0 when none is owed. */
    int RcTakeAnswer(ReceiverCore* core, RcByte* data);

    /* Forgets every answer owed. */
    void RcDropAnswers(ReceiverCore* core);

    /* Whether a query now gets an answer: not silent and not unplugged. */
    int RcAnswering(const ReceiverCore* core);

    /* Whether writes fail now. */
    int RcWritesFail(const ReceiverCore* core);

    /* The input and output report length, report id included. */
    unsigned RcReportBytes(const ReceiverCore* core);

    /* The feature report: `data` holds its data bytes, `length` of them. Set returns 0 for a request
     * it does not know; read fills what fits. */
    int RcSetFeature(ReceiverCore* core, const RcByte* data, unsigned length);
    void RcGetFeature(const ReceiverCore* core, RcByte* data, unsigned length);

    /* The tone the receiver's audio input plays for what a feature report read says, in whole Hz:
     * FM f MHz as (f - 80) x 100 Hz, AM k kHz as k Hz; 0 (silence) when it does not answer or the
     * read is too short to say. */
    int RcToneHz(const RcByte* feature, unsigned length);

#ifdef __cplusplus
}
#endif

#endif
