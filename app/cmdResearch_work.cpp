// The main window's work commands: the file list and list files, the upload,
// flash maintenance and test tickets.
#include "cmdResearch.h"

namespace velquin {

struct cmdResearch::WorkParts {};

void cmdResearch::WorkPartsDeleter::operator()(WorkParts* parts) const { delete parts; }

void cmdResearch::createWorkParts() { work.reset(new WorkParts); }

void cmdResearch::cmdAddToList_Click() {}
void cmdResearch::cmdDeleteLastItem_Click() {}
void cmdResearch::cmdDeleteAllItems_Click() {}
void cmdResearch::cmdSaveToFile_Click() {}
void cmdResearch::cmdGetList_Click() {}
void cmdResearch::cmdClearFont_Click() {}
void cmdResearch::cmdSendListToPrinter_Click() {}
void cmdResearch::CmdGetFlash_Click() {}
void cmdResearch::CmdGetStatus_Click() {}
void cmdResearch::cmdTestTTF1_Click() {}
void cmdResearch::CmdTestTTF2_Click() {}
void cmdResearch::CmdTestTTF3_Click() {}
void cmdResearch::CmdTestTTF4_Click() {}
void cmdResearch::CmdTestTTF5_Click() {}
void cmdResearch::CmdTestTTFAll_Click() {}
void cmdResearch::CmdTestResidentFonts_Click() {}
void cmdResearch::OptionMode_Click(LoaderMode /*mode*/) {}
void cmdResearch::grdInfo_Click(int /*row*/, int /*column*/) {}

}  // namespace velquin
