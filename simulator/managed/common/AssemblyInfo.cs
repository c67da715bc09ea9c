using System.Reflection;
using System.Runtime.CompilerServices;

[assembly: AssemblyTitle("Quelto.Common")]
[assembly: AssemblyDescription("Simulated SDK: configuration classes, enumerations and the data event")]
[assembly: AssemblyVersion("1.0.0.0")]
[assembly: AssemblyFileVersion("1.0.0.0")]
[assembly: AssemblyCulture("")]
[assembly: InternalsVisibleTo("Quelto")]
[assembly: InternalsVisibleTo("PellimorCfgReader")]
