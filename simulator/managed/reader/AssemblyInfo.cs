using System.Reflection;

[assembly: AssemblyTitle("PellimorCfgReader")]
[assembly: AssemblyDescription("Simulated SDK: the configuration file reader")]
[assembly: AssemblyVersion("1.0.0.0")]
[assembly: AssemblyFileVersion("1.0.0.0")]
[assembly: AssemblyCulture("")]
