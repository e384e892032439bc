// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder so the application library has a source until the app lands.
