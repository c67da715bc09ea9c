using System.Reflection;

[assembly: AssemblyTitle("Quelto")]
[assembly: AssemblyDescription("Simulated SDK: the device")]
[assembly: AssemblyVersion("1.0.0.0")]
[assembly: AssemblyFileVersion("1.0.0.0")]
[assembly: AssemblyCulture("")]
