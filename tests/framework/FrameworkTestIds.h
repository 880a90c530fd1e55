// Identifiers of the probe dialog that the framework tests run.
#pragma once

#define IDD_PROBE 200
#define IDC_GO 300
#define IDC_TEXT 301
#define IDC_SPINNER 302
#define IDC_CHOICE_A 310
#define IDC_CHOICE_B 311
#define IDC_CHOICE_C 312
#define IDC_OTHER_GROUP 313
