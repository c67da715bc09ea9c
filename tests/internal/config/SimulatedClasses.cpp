// The simulated configuration classes compiled into this program, so tests
// can make capture objects with arrays of chosen lengths.
#include "ConfigurationClasses.cpp"
