// Ending a smart card's login for good. Many cards have no command that
// undoes a PIN verification, and their drivers then leave the card verified
// for as long as it stays powered, for any program that reaches the reader
// after us. Resetting the card through PC/SC ends that, as a card provider
// does when the card cannot log out by itself.
#pragma once

#include <pk11pub.h>

#include <string>
#include <vector>

// The PC/SC reader names of the tokens that are logged in now and sit in a
// reader: hardware tokens whose slot is named after their reader.
std::vector<std::string> LoggedInCardReaders();

// Resets the card in each of these readers, if one is there. Loads
// libpcsclite only when there is a reader to reset; without it, or without
// a running pcscd, does nothing.
void ResetCards(const std::vector<std::string>& vtrReaders);
