using System;
using System.Collections.Generic;

// A small runner: each group is a list of named cases; a failed check
// throws, the case is reported and the run's exit code is 1.
static class Check
{
    public static void That(bool condition, string what)
    {
        if (!condition) throw new Exception("check failed: " + what);
    }

    public static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
        {
            throw new Exception("check failed: " + what + ": expected <" + expected + ">, got <" + actual + ">");
        }
    }

    public static TException Throws<TException>(Action action, string what) where TException : Exception
    {
        try
        {
            action();
        }
        catch (TException e)
        {
            if (e.GetType() != typeof(TException))
            {
                throw new Exception("check failed: " + what + ": threw " + e.GetType() + ", expected " + typeof(TException));
            }
            return e;
        }
        catch (Exception e)
        {
            throw new Exception("check failed: " + what + ": threw " + e.GetType() + ": " + e.Message);
        }
        throw new Exception("check failed: " + what + ": nothing thrown");
    }
}

static class Runner
{
    public static int Run(string group, KeyValuePair<string, Action>[] cases)
    {
        int failed = 0;
        foreach (var c in cases)
        {
            try
            {
                c.Value();
                Console.WriteLine("[ PASS ] " + group + "." + c.Key);
            }
            catch (Exception e)
            {
                ++failed;
                Console.WriteLine("[ FAIL ] " + group + "." + c.Key + ": " + e);
            }
        }
        Console.WriteLine(failed == 0 ? "all passed" : failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    public static KeyValuePair<string, Action> Case(string name, Action body)
    {
        return new KeyValuePair<string, Action>(name, body);
    }
}
