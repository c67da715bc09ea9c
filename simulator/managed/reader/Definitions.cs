namespace PellimorCfgReader.Definitions
{
    public enum ChannelType { }
    public enum ChannelSide { }
}
