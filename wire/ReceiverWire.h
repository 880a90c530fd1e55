/* The receiver's wire: what the player, the virtual receiver's core and its control tool must
 * agree on, written once. Plain C without a library, for the kernel driver as for the programs.
 * How a frequency becomes a code is each side's own: the player and the device convert
 * independently, and the scenario rows check both against the hex the reports carry. */
#ifndef WAVELARK_RECEIVER_WIRE_H
#define WAVELARK_RECEIVER_WIRE_H

enum
{
    kWireVendorId = 0x077D,
    kWireProductId = 0x627A,
    /* Input and output reports: report id 0, then the data bytes. A command's data bytes are the
     * command byte, then for a tune command the band byte and the code, high byte first. An
     * answer's are the status (0 when good), the band byte and the code, high byte first. */
    kWireReportId = 0,
    kWireDataBytes = 6,
    kWireReportBytes = kWireDataBytes + 1,
    kWireTuneCommand = 0xC0,
    kWireQueryCommand = 0x80,
    kWireBandFm = 0x02,
    kWireBandAm = 0x12,
};

/* The virtual receiver's vendor feature report, which the player never uses: report id 0, then
 * kWireFeatureDataBytes. Its first data byte, when set, is the request:
 *   kWireSetState   fault, fault value (2 bytes, high first), band, code (2 bytes), and 1 when
 *                   its audio input is to ignore buffer suggestions: a fresh start, with no
 *                   answers owed and an empty log;
 *   kWireSelectLog  index (4 bytes, high first): the received report the next reads carry.
 * Read, its data bytes are the band, code (2), fault, fault value (2), then at the offsets below:
 * 1 when it answers queries, the count of reports received (4), 1 when the selected report is
 * kept, its six data bytes, when it arrived (8 bytes, in 100 ns units of the performance
 * counter's clock), and 1 when the audio input ignores buffer suggestions. Counts and times are
 * high byte first. */
enum
{
    kWireFeatureDataBytes = 27,
    kWireFeatureReportBytes = kWireFeatureDataBytes + 1,
    kWireSetState = 1,
    kWireSelectLog = 2,
    kWireGetAnswering = 6,
    kWireGetReceived = 7,
    kWireGetSelectedKept = 11,
    kWireGetSelected = 12,
    kWireGetSelectedStamp = 18,
    kWireGetPlainAudio = 26,
};

/* The faults the virtual receiver shows on request. */
typedef enum WireFault
{
    kWireFaultNone,
    kWireFaultSilent,      /* never answers a query */
    kWireFaultWriteFails,  /* every write fails */
    kWireFaultUnplugAfter, /* gone after `value` answered queries: writes fail, nothing answers */
    kWireFaultStatus,      /* answers with status byte `value` */
    kWireFaultBand,        /* answers with band byte `value` */
    kWireFaultLate,        /* answers `value` milliseconds after the query */
    kWireFaultCount
} WireFault;

#endif
