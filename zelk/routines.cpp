// zelk routines.
