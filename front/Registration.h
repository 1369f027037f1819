#ifndef FRONT_REGISTRATION_H
#define FRONT_REGISTRATION_H

// Console commands "install" and "uninstall": register this executable as
// the profile's service, or remove that registration. Each prints one line.
void InstallService();
void UninstallService();

#endif
