// The leak checker's suppressions for this program: the font configuration
// library that Qt loads keeps a few blocks until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
