// The dial-up phonebook: the peer files of pppd, one entry per file in the peers folder
// (/etc/ppp/peers, or the folder named by TENVAR_PPP_PEERS).
#pragma once

#include <string>
#include <vector>

namespace tenvar::dialup {

std::string PhonebookDirectory();

// The entries of the phonebook, sorted by name; empty when there is no phonebook.
std::vector<std::string> PhonebookEntries();

// The entry dialled when the configuration names none: pppd's default peer "provider" when
// the phonebook has it, else empty.
std::string DefaultPhonebookEntry();

}  // namespace tenvar::dialup
