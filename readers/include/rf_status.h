/*
 * Statuses of the reader libraries shipped with Vesk_RD.
 *
 * Every RfReader we ship (simulated, PC/SC) answers with these numbers, so a
 * host application sees the same value for the same fault whatever reader it
 * runs on. Entry points other than rf_init return 0 or one of the positive
 * statuses; rf_init returns a positive handle or one of the negative values.
 */
#ifndef RF_STATUS_H
#define RF_STATUS_H

enum rf_status {
    RF_OK = 0,
    RF_ERR_NO_CARD = 1,       /* no card answered in the field */
    RF_ERR_HANDLE = 2,        /* unknown or closed reader handle */
    RF_ERR_AUTH = 3,          /* authentication failed (wrong key, unusable key) */
    RF_ERR_NOT_AUTH = 4,      /* the block's sector is not authenticated */
    RF_ERR_ACCESS = 5,        /* the access conditions forbid the operation */
    RF_ERR_ARG = 6,           /* bad argument: null pointer, block or sector out of range, bad key mode */
    RF_ERR_NO_KEY = 7,        /* no key loaded for this key mode and sector */
    RF_ERR_SELECT = 8,        /* no card with that serial value, or not anticollided first */
    RF_ERR_CARD_TYPE = 9,     /* the card in the field is not a Mifare Classic 1K or 4K */
    RF_ERR_IO = 10,           /* the card file could not be read or written */
    RF_ERR_COMM = 11,         /* the reader or card stopped answering (card removed, service gone) */
    RF_ERR_HALTED = 12        /* the card is halted: only a request for all cards wakes it */
};

/* Negative results of rf_init. */
enum rf_init_error {
    RF_INIT_BAD_PORT = -1,    /* port out of range, or no reader at that index */
    RF_INIT_BAD_BAUD = -2,    /* baud rate not supported */
    RF_INIT_CARD_FILE = -3,   /* the card file cannot be read or has the wrong size */
    RF_INIT_NO_SERVICE = -4,  /* the smart-card service is not running */
    RF_INIT_NO_READER = -5,   /* the service knows no reader at all */
    RF_INIT_BUSY = -6,        /* no free handle */
    RF_INIT_BAD_SETTING = -7  /* a setting of the reader (simulated reader: RFSIM_FAULT, RFSIM_NO_CARD) is malformed */
};

#endif
