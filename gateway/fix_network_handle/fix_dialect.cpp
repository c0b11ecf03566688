// Constants of the FIX 4.2 dialect.
#include "gateway/fix_network_handle/fix_dialect.h"

namespace FIX42
{

const char *const VALID_LOGON_MARK = "VALID_LOGON";
const char *const ACCEPTOR_DICTIONARY_FILE = "FIX42_qel_acceptor.xml";
const char *const CLIENT_DICTIONARY_FILE = "FIX42_qel_client.xml";

void markValidLogon(FIX::Message &logon)
{
    logon.getHeader().setField(TAG::ValidLogonMark, VALID_LOGON_MARK);
}

} // namespace FIX42
