#pragma once
// Indexes of the shared image list, by the names of its pictures. Nodes store their ImageIndex in the
// configuration files, so the order never changes.

namespace vexa {

enum TImageIndex : int {
  iiNone = -1,
  iiDELETE,
  iiLOOKUP,
  iiNEW,  // also a plain node and a report template
  iiOPEN,
  iiPRINT,
  iiSAVE,
  iiTREE,
  iiSEARCH,
  iiCYCLO,  // also a process template
  iiEDIT,
  iiPROCESSES,
  iiFOLDER,
  iiFOLDERO,
  iiTOBEGIN,
  iiPLAY,  // also a running process or report
  iiPAUSE,
  iiSTOP,  // also a stopped process or report
  iiRUNTASK,
  iiCYCLOS,
  iiTABLE,  // also a command node
  iiCOPY,
  iiPASTE,
  iiREGULATOR,
  iiCHANNEL,
  iiPLUS,
  iiREPORT,
  iiREPORTS,
  iiARCHIVES,
  iiLEFT,
  iiRIGHT,
  iiZOOMIN,
  iiZOOMOUT,
  iiREFRESH,
  iiMINUS,
  iiADD,
  iiINSERT,
  iiCOMPRESS,
  iiEXPAND,
  iiCHANNELS,
  iiSTARTALL,
  iiREGISTER,
  iiREPORTN,  // a register inside a report
  iiKEY,
  iiEXCEL,
  iiDATE,
  iiCount
};

// The picture names in list order ("DELETE" ... "DATE").
inline constexpr const char* kImageNames[iiCount] = {
    "DELETE",   "LOOKUP",    "NEW",      "OPEN",     "PRINT",     "SAVE",    "TREE",  "SEARCH", "CYCLO",
    "EDIT",     "PROCESSES", "FOLDER",   "FOLDERO",  "TOBEGIN",   "PLAY",    "PAUSE", "STOP",   "RUNTASK",
    "CYCLOS",   "TABLE",     "COPY",     "PASTE",    "REGULATOR", "CHANNEL", "PLUS",  "REPORT", "REPORTS",
    "ARCHIVES", "LEFT",      "RIGHT",    "ZOOMIN",   "ZOOMOUT",   "REFRESH", "MINUS", "ADD",    "INSERT",
    "COMPRESS", "EXPAND",    "CHANNELS", "STARTALL", "REGISTER",  "REPORTN", "KEY",   "EXCEL",  "DATE",
};

}  // namespace vexa
